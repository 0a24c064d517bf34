#include "messages.h"

#include <iostream>

CoreMessages::CoreMessages() : saved(std::cout.rdbuf(collected.rdbuf())) {}

CoreMessages::~CoreMessages()
{
	printWith("");
	std::cout.rdbuf(saved);
}

void CoreMessages::printWith(const std::string& prefix)
{
	std::string text = collected.str();
	collected.str("");
	std::ostream out(saved);
	for (size_t start = 0; start < text.size();) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos) end = text.size();
		if (end > start) out << prefix << text.substr(start, end - start) << "\n";
		start = end + 1;
	}
	out.flush();
}
