// The lines of a results file made on a second thread: the sweep hands over
// each marker's cell values and carries on with the next marker while the
// other thread formats the lines into the text, block by block. Where no
// thread can be started, each line is formatted as it is handed over. The
// text is the same either way.
#ifndef TARVEL_LINE_PIPE_H
#define TARVEL_LINE_PIPE_H

#include "results_text.h"

struct LineRecord {
	int t;          // the marker, or -1 - block after the last line of block
	double cell[64];
};
typedef void (*LineFormatter)(const LineRecord& line, ResultsText& text, void* context);

struct LinePipe;
LinePipe* startLines(ResultsText& text, LineFormatter format, void* context, bool thread = true);
LineRecord& nextLine(LinePipe* pipe); // the record to fill, then handLine
void handLine(LinePipe* pipe);
void endLineBlock(LinePipe* pipe, int block);
// Every line formatted, and the pipe gone. Throws std::bad_alloc where
// memory ran out (on either thread); the pipe is then left for abandonLines.
void finishLines(LinePipe* pipe);
void abandonLines(LinePipe* pipe); // the pipe gone, whatever it still holds

#endif
