#include "results_text.h"

#include <ostream>
#include <streambuf>

#ifdef TARVEL_FAST_FORMAT
#include "format_number.h"
#endif

// Room for the longest line of any layout (64 labelled entries) many times.
static const size_t TextBufferSize = 1 << 20;

void beginText(ResultsText& text, std::ofstream& file)
{
	text.file = &file;
	text.buffer.assign(TextBufferSize, 0);
	text.used = 0;
}

void flushText(ResultsText& text)
{
	text.file->write(text.buffer.data(), (std::streamsize)text.used);
	text.used = 0;
}

#ifndef TARVEL_FAST_FORMAT
// A stream writing straight into the text buffer: the standard formatting
// without a stream call per character.
struct SpanBuffer : std::streambuf {
	void point(char* p, size_t n) { setp(p, p + n); }
	size_t written(char* p) const { return (size_t)(pptr() - p); }
};
#endif

void appendNumber(ResultsText& text, double v)
{
	char* at = text.buffer.data() + text.used;
#ifdef TARVEL_FAST_FORMAT
	text.used += formatNumber(v, at);
#else
	static SpanBuffer span;
	static std::ostream stream(&span);
	span.point(at, 64);
	stream << v;
	text.used += span.written(at);
#endif
}
