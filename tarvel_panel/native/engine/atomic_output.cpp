#include "atomic_output.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The temporary names a signal handler may have to remove: fixed buffers,
// since the handler can neither allocate nor lock.
const int Slots = 4;
const size_t PathRoom = 4096;
char pending[Slots][PathRoom];
volatile std::sig_atomic_t inUse[Slots];

int claimSlot(const std::string& path)
{
	if (path.size() >= PathRoom) return -1; // too long to keep; left for the runner to clear
	for (int s = 0; s < Slots; ++s)
		if (!inUse[s]) {
			std::memcpy(pending[s], path.c_str(), path.size() + 1);
			inUse[s] = 1;
			return s;
		}
	return -1;
}

void releaseSlot(int s)
{
	if (s >= 0) inUse[s] = 0;
}

extern "C" void removeAndStop(int signum)
{
	for (int s = 0; s < Slots; ++s)
		if (inUse[s]) unlink(pending[s]);
	std::signal(signum, SIG_DFL);
	std::raise(signum);
}

std::string temporaryBeside(const std::string& target)
{
	size_t slash = target.rfind('/');
	std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
	std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
	return dir + "." + base + ".tmp-" + std::to_string((long)getpid());
}

} // namespace

AtomicOutput::AtomicOutput(const std::string& target)
    : target_(target), temporary_(temporaryBeside(target)), slot(claimSlot(temporary_))
{
}

AtomicOutput::~AtomicOutput()
{
	if (!committed) std::remove(temporary_.c_str());
	releaseSlot(slot);
}

bool AtomicOutput::commit(std::string* why)
{
	if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
		*why = "cannot be renamed into place (" + std::string(std::strerror(errno)) + ")";
		return false;
	}
	committed = true;
	releaseSlot(slot);
	slot = -1;
	return true;
}

void removeTemporariesOnSignals()
{
	for (int signum : {SIGINT, SIGTERM, SIGHUP}) std::signal(signum, removeAndStop);
}
