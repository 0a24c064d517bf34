#include "strain_run.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "driver/driver.h"
#include "inference/inference.h"
#include "messages.h"
#include "model/model.h"
#include "output/output.h"
#include "founder_values.h"
#include "strain_sink.h"

namespace {

// The run parameters TARVEL's command line would set for the job.
void setParameters(const Job& job)
{
	resetStrainState();
	p_y_given_q_value = 1 - job.errorRate;
	Sex = job.male;
	NoOfInbreedingGen = job.generation - 2;
	SeqFileName = job.strain;
	FounderGroupFileName = job.funnel;
}

// The strain and funnel files, as TARVEL reads and checks them.
bool loadStrain()
{
	if (!readStrainFile()) return false;
	std::ifstream funnel(FounderGroupFileName);
	if (!readFunnelFile(funnel)) return false;
	if (!funnelIsPermutation()) {
		std::cout << "Error: the funnel file must list each founder number from 1 to 8 exactly once.\n";
		return false;
	}
	return true;
}

bool infer()
{
	calcEmissionProb();
	if (!XChromosome && NoOfInbreedingGen > 3) calcF();
	if (!computeAlpha()) return false;
	computeBeta();
	return true;
}

int writeOutputs(StrainOutputs& outputs)
{
	if (!XChromosome) return writeOutInferSolution(writeStrainOutputs, &outputs);
	if (Sex) return writeOutMaleInferSolution(writeStrainOutputs, &outputs);
	return writeOutFemaleInferSolution(writeStrainOutputs, &outputs);
}

bool refuse(const std::string& prefix, const std::string& file, const std::string& why)
{
	std::cout << prefix << file << ": " << why << "\n";
	return false;
}

} // namespace

bool checkJob(const Job& job, const std::string& prefix)
{
	setParameters(job);
	CoreMessages messages;
	bool ok = checkParameters(job.errorRate);
	messages.printWith(prefix);
	return ok;
}

bool runStrain(const Job& job, const std::string& prefix, bool founderValuesOnly)
{
	setParameters(job);
	sizeStateSpace();
	{
		CoreMessages messages;
		bool ok = loadStrain() && infer();
		messages.printWith(prefix);
		if (!ok) return false;
	}
	ValuesFile values(job.values, L, founderValuesOnly ? FounderValuesPerLine : ValuesPerLine);
	std::unique_ptr<AtomicOutput> text(job.text.empty() ? nullptr : new AtomicOutput(job.text));
	StrainOutputs outputs{&values, founderValuesOnly, text.get(), "", ""};
	std::string why;
	if (!values.open(&why)) return refuse(prefix, job.values, why);
	if (!writeOutputs(outputs)) return refuse(prefix, outputs.failedFile, outputs.why);
	if (!values.finish(&why)) return refuse(prefix, job.values, why);
	if (text && !text->commit(&why)) {
		std::remove(job.values.c_str()); // the pair is complete or absent
		return refuse(prefix, job.text, why);
	}
	return true;
}
