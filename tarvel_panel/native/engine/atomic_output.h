// Output files that appear under their names only when complete: written
// under a hidden temporary name beside the target (".NAME.tmp-PID", the
// pattern the panel's runner clears after a killed run), renamed when
// complete and removed otherwise, also when the engine is stopped by
// SIGINT, SIGTERM or SIGHUP.
#ifndef TARVEL_ENGINE_ATOMIC_OUTPUT_H
#define TARVEL_ENGINE_ATOMIC_OUTPUT_H

#include <string>

class AtomicOutput {
public:
	explicit AtomicOutput(const std::string& target);
	~AtomicOutput(); // removes the temporary file unless committed
	AtomicOutput(const AtomicOutput&) = delete;
	AtomicOutput& operator=(const AtomicOutput&) = delete;

	const std::string& target() const { return target_; }
	const std::string& temporary() const { return temporary_; }
	// Renames the temporary file to the target; false (message in *why) when
	// it cannot.
	bool commit(std::string* why);

private:
	std::string target_, temporary_;
	int slot;
	bool committed = false;
};

// Removes the temporary files of a stop by these signals, then lets the
// signal end the process as it would have.
void removeTemporariesOnSignals();

#endif
