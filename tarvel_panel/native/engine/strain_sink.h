// Where the engine's results of one strain go: a ResultsSink for the core's
// writers that sweeps the markers once and, for each marker, stores the
// values of its line in the values file and, when asked, hands the line to
// the writer's own formatter for TARVEL's results text. With founderValues
// the values file holds each line's founder values (founder_values.h)
// instead of its pairs.
#ifndef TARVEL_ENGINE_STRAIN_SINK_H
#define TARVEL_ENGINE_STRAIN_SINK_H

#include <string>

#include "output/output.h"
#include "values_file.h"

// Values per line in the values file: the HAPPY layout's 36 founder pairs,
// a male X's line too.
const int ValuesPerLine = 36;

struct StrainOutputs {
	ValuesFile* values;
	bool founderValues;
	AtomicOutput* text; // null: no text
	std::string failedFile, why; // set when the sink returns 0
};

// The ResultsSink; sinkContext is a StrainOutputs. Returns 0 after a
// failure, with nothing printed.
int writeStrainOutputs(const ResultsLayout& layout, void* sinkContext);

#endif
