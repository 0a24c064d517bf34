// One strain on the loaded chromosome: TARVEL's stages over the core's model
// state, reset between strains, and the strain's files written.
#ifndef TARVEL_ENGINE_STRAIN_RUN_H
#define TARVEL_ENGINE_STRAIN_RUN_H

#include <string>

#include "job_list.h"

// Whether TARVEL would take the job's #Generation and error rate on this
// chromosome; TARVEL's message after prefix otherwise.
bool checkJob(const Job& job, const std::string& prefix);

// Runs the job; true when its files are in place. Otherwise TARVEL's
// message (or the file that could not be written) after prefix, and none
// of the job's files left. With founderValuesOnly the values file holds
// the founder values of each line (founder_values.h), not its pairs.
bool runStrain(const Job& job, const std::string& prefix, bool founderValuesOnly);

#endif
