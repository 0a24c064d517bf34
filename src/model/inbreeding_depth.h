// Deepest sibling inbreeding an autosome run accepts (#Generation 100). The
// per-generation tables are sized from it, and so are the lists of the
// pair-factor block's union sums (at most G terms each).
#ifndef TARVEL_INBREEDING_DEPTH_H
#define TARVEL_INBREEDING_DEPTH_H

const int MaxInbreedingGen = 98;

#endif
