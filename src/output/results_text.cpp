#include "results_text.h"

#include "format_number.h"

// Room for the longest line of any layout (64 labelled entries) many times.
static const size_t TextBufferSize = 1 << 18;

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

void appendNumber(ResultsText& text, double v)
{
	text.used += formatNumber(v, text.buffer.data() + text.used);
}
