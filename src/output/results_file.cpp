// The results file itself and the parts of its layouts that all writers share.
#include <cstdio>
#include <iostream>
#include <new>

#include "output.h"
#include "results_text.h"
#include "../model/kernels.h"
#include "../driver/driver.h"
#include "../inference/inference.h"

// Text mode: on Windows every "\n" reaches the file as "\r\n".
static bool openResults(std::ofstream& out)
{
	out.open(SolutionFileName, std::ios::out | std::ios::trunc);
	if (out) return true;
	std::cout << "Error in opening Solution file for writing:" << SolutionFileName << "\n";
	return false;
}

// A results file that was not written whole is removed: a short file
// would pass for a complete one.
static int closeResults(std::ofstream& out)
{
	out.close();
	if (!out.fail()) return 1;
	std::cout << "Error in writing Solution file:" << SolutionFileName << "\n";
	std::remove(SolutionFileName.c_str());
	return 0;
}

// One writer's sweep: how it sums a marker's cells, and the pipe that
// formats its lines.
struct Sweep {
	LinePipe* lines;
	CellSummer cells;
	void* context;
};

static void visitMarker(int t, const double* alpha, const double* beta, void* sweep)
{
	Sweep& s = *(Sweep*)sweep;
	LineRecord& line = nextLine(s.lines);
	line.t = t;
	s.cells(t, alpha, beta, line.cell, s.context);
	handLine(s.lines);
}

static void endSweepBlock(int block, void* sweep) { endLineBlock(((Sweep*)sweep)->lines, block); }

// Where memory runs out on the way, the file goes and the failure is
// passed on to the caller.
int writeResults(const ResultsLayout& layout, void*)
{
	std::ofstream out;
	if (!openResults(out)) return 0;
	ResultsText text = {};
	Sweep sweep = {nullptr, layout.cells, layout.context};
	try {
		beginText(text, out);
		sweep.lines = startLines(text, layout.format, layout.context);
		sweepMarkers(visitMarker, endSweepBlock, &sweep);
		finishLines(sweep.lines);
		sweep.lines = nullptr;
		flushText(text);
	} catch (const std::bad_alloc&) {
		if (sweep.lines) abandonLines(sweep.lines);
		if (text.spill) std::fclose(text.spill);
		out.close();
		std::remove(SolutionFileName.c_str());
		throw;
	}
	return closeResults(out);
}

void posteriorWeights(int t, const double* alpha, const double* beta, double* w)
{
	kernels().posterior(beta, alpha, p_y0_to_yt[t], w, NoOfStates);
}

int founderNumber(int position) { return FounderGroup1[position] + 1; }

int founderPosition(int founderIndex)
{
	for (int p = 0; p < 8; ++p)
		if (FounderGroup1[p] == founderIndex) return p;
	return -1; // not reached: main refuses funnels that miss a founder
}
