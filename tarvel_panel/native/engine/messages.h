// The core prints its messages on standard output, some without a line
// break. While a CoreMessages lives it collects them instead, so that each
// can be printed on a line of its own after a prefix naming the file or the
// list line it is about.
#ifndef TARVEL_ENGINE_MESSAGES_H
#define TARVEL_ENGINE_MESSAGES_H

#include <sstream>
#include <streambuf>
#include <string>

class CoreMessages {
public:
	CoreMessages();
	~CoreMessages(); // prints what is left, without a prefix
	// Prints each message collected so far as prefix + message + "\n".
	void printWith(const std::string& prefix);

private:
	std::ostringstream collected;
	std::streambuf* saved;
};

#endif
