#include "strain_sink.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "driver/driver.h"
#include "founder_values.h"
#include "inference/inference.h"
#include "output/line_pipe.h"
#include "output/results_text.h"

namespace {

struct Sweep {
	const ResultsLayout& layout;
	StrainOutputs& outputs;
	LinePipe* lines; // null without text
	LineRecord record; // the record when there is no pipe
	std::vector<double> block; // the values of the block's lines so far
	long blockStart = -1, blockLines = 0;
	int perLine = ValuesPerLine;
	bool failed = false;

	void fail(const std::string& file, const std::string& why)
	{
		if (failed) return;
		failed = true;
		outputs.failedFile = file;
		outputs.why = why;
	}
};

void visitMarker(int t, const double* alpha, const double* beta, void* context)
{
	Sweep& s = *(Sweep*)context;
	LineRecord& line = s.lines ? nextLine(s.lines) : s.record;
	line.t = t;
	s.layout.cells(t, alpha, beta, line.cell, s.layout.context);
	if (s.blockStart < 0) s.blockStart = t;
	double values[MaxLineValues];
	int n = s.layout.values(line.cell, values, s.layout.context);
	if (n != ValuesPerLine)
		s.fail(s.outputs.values->target(), "the layout holds " + std::to_string(n) + " values a line, not " +
		                                       std::to_string(ValuesPerLine));
	double* row = s.block.data() + (size_t)s.blockLines * s.perLine;
	if (s.outputs.founderValues) founderValues(values, row);
	else
		for (int k = 0; k < ValuesPerLine; ++k) row[k] = values[k];
	++s.blockLines;
	if (s.lines) handLine(s.lines);
}

void endSweepBlock(int block, void* context)
{
	Sweep& s = *(Sweep*)context;
	if (s.lines) endLineBlock(s.lines, block);
	std::string why;
	if (!s.failed && !s.outputs.values->writeLines(s.blockStart, s.blockLines, s.block.data(), &why))
		s.fail(s.outputs.values->target(), why);
	s.blockStart = -1;
	s.blockLines = 0;
}

} // namespace

int writeStrainOutputs(const ResultsLayout& layout, void* sinkContext)
{
	StrainOutputs& outputs = *(StrainOutputs*)sinkContext;
	Sweep sweep{layout, outputs, nullptr, {}, {}};
	sweep.perLine = outputs.founderValues ? FounderValuesPerLine : ValuesPerLine;
	sweep.block.resize((size_t)CheckpointSpacing * sweep.perLine);
	std::ofstream file;
	ResultsText text = {};
	if (outputs.text) {
		// text mode and truncation, as TARVEL opens its results file
		file.open(outputs.text->temporary(), std::ios::out | std::ios::trunc);
		if (!file) {
			sweep.fail(outputs.text->target(), std::string("cannot be created (") + std::strerror(errno) + ")");
			return 0;
		}
		beginText(text, file);
		sweep.lines = startLines(text, layout.format, layout.context);
	}
	sweepMarkers(visitMarker, endSweepBlock, &sweep);
	if (outputs.text) {
		finishLines(sweep.lines);
		flushText(text);
		file.close();
		if (file.fail()) sweep.fail(outputs.text->target(), "cannot be written");
	}
	return sweep.failed ? 0 : 1;
}
