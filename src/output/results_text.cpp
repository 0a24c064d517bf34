#include "results_text.h"

#include "format_number.h"

// Room for the longest line of any layout (64 labelled entries) many times.
static const size_t TextBufferSize = 1 << 18;

void beginText(ResultsText& text, std::ofstream& file, bool tempFile)
{
	text.file = &file;
	text.buffer.assign(TextBufferSize, 0);
	text.used = 0;
	// Unbuffered: every byte fwrite accepts is in the file, so a spill that
	// runs out of room can be read back whole and held in memory instead.
	text.spill = tempFile ? std::tmpfile() : nullptr;
	if (text.spill && (std::setvbuf(text.spill, nullptr, _IONBF, 0) != 0 ||
	                   std::fgetpos(text.spill, &text.blockPosition) != 0)) {
		std::fclose(text.spill);
		text.spill = nullptr;
	}
	text.held.clear();
	text.spilled = text.blockStart = 0;
	text.blocks.clear();
	text.failed = false;
}

static void holdInMemory(ResultsText& text)
{
	std::FILE* f = text.spill;
	text.held.resize(text.spilled); // where this throws, the spill is still there to close
	text.spill = nullptr;
	std::rewind(f);
	if (text.spilled && std::fread(text.held.data(), 1, text.spilled, f) != text.spilled)
		text.failed = true;
	std::fclose(f);
}

void spillText(ResultsText& text)
{
	const char* bytes = text.buffer.data();
	size_t n = text.used;
	text.used = 0;
	if (text.spill && std::fwrite(bytes, 1, n, text.spill) != n) holdInMemory(text);
	else if (text.spill) {
		text.spilled += n;
		return;
	}
	text.held.insert(text.held.end(), bytes, bytes + n);
	text.spilled += n;
}

void endBlock(ResultsText& text, int block)
{
	spillText(text);
	if ((size_t)block >= text.blocks.size()) text.blocks.resize(block + 1);
	SpillPiece& piece = text.blocks[block];
	piece.offset = text.blockStart;
	piece.size = text.spilled - text.blockStart;
	piece.position = text.blockPosition;
	text.blockStart = text.spilled;
	if (text.spill && std::fgetpos(text.spill, &text.blockPosition) != 0) holdInMemory(text);
}

static bool readPiece(ResultsText& text, const SpillPiece& piece)
{
	if (!text.spill) {
		text.file->write(text.held.data() + piece.offset, (std::streamsize)piece.size);
		return true;
	}
	if (std::fsetpos(text.spill, &piece.position) != 0) return false;
	for (size_t left = piece.size; left;) {
		size_t n = left < text.buffer.size() ? left : text.buffer.size();
		if (std::fread(text.buffer.data(), 1, n, text.spill) != n) return false;
		text.file->write(text.buffer.data(), (std::streamsize)n);
		left -= n;
	}
	return true;
}

void flushText(ResultsText& text)
{
	for (const SpillPiece& piece : text.blocks)
		if (!text.failed && !readPiece(text, piece)) text.failed = true;
	if (text.spill) std::fclose(text.spill);
	text.spill = nullptr;
	std::vector<char>().swap(text.held);
	if (text.failed) text.file->setstate(std::ios::badbit);
}

void appendNumber(ResultsText& text, double v)
{
	text.used += formatNumber(v, text.buffer.data() + text.used);
}
