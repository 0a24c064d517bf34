#include "line_pipe.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const size_t ChunkLines = 512; // records per hand-over
const size_t MaxChunks = 4;    // chunks in flight: the memory the pipe may take

typedef std::vector<LineRecord> Chunk;

} // namespace

struct LinePipe {
	ResultsText* text;
	LineFormatter format;
	void* context;
	Chunk filling;
	size_t used = 0;
	std::thread worker;
	bool threaded = false;
	std::mutex lock;
	std::condition_variable changed;
	std::deque<Chunk> full, spare;
	size_t chunks = 0; // made so far
	bool done = false;
	bool outOfMemory = false; // the worker could not format a chunk
};

static void formatChunk(LinePipe& p, const Chunk& c, size_t n)
{
	for (size_t i = 0; i < n; ++i) {
		const LineRecord& line = c[i];
		if (line.t < 0) endBlock(*p.text, -1 - line.t);
		else p.format(line, *p.text, p.context);
	}
}

static void work(LinePipe* p)
{
	std::unique_lock<std::mutex> hold(p->lock);
	for (;;) {
		p->changed.wait(hold, [&] { return !p->full.empty() || p->done; });
		if (p->full.empty()) return;
		Chunk c = std::move(p->full.front());
		p->full.pop_front();
		hold.unlock();
		try {
			if (!p->outOfMemory) formatChunk(*p, c, c.size());
		} catch (const std::bad_alloc&) {
			p->outOfMemory = true; // told by finishLines, on the sweep's thread
		}
		hold.lock();
		p->spare.push_back(std::move(c));
		p->changed.notify_all();
	}
}

LinePipe* startLines(ResultsText& text, LineFormatter format, void* context, bool thread)
{
	LinePipe* p = new LinePipe;
	p->text = &text;
	p->format = format;
	p->context = context;
	p->filling.resize(ChunkLines);
	p->chunks = 1;
	try {
		if (thread) {
			p->worker = std::thread(work, p);
			p->threaded = true;
		}
	} catch (const std::system_error&) {
		p->threaded = false;
	}
	return p;
}

// Hands the filled records to the worker and takes an empty chunk, made
// new while fewer than MaxChunks exist.
static void handChunk(LinePipe* p)
{
	if (!p->threaded) {
		formatChunk(*p, p->filling, p->used);
		p->used = 0;
		return;
	}
	p->filling.resize(p->used);
	std::unique_lock<std::mutex> hold(p->lock);
	p->full.push_back(std::move(p->filling));
	p->changed.notify_all();
	if (p->spare.empty() && p->chunks < MaxChunks) {
		++p->chunks;
		p->filling = Chunk(ChunkLines);
	} else {
		p->changed.wait(hold, [&] { return !p->spare.empty(); });
		p->filling = std::move(p->spare.front());
		p->spare.pop_front();
		p->filling.resize(ChunkLines);
	}
	p->used = 0;
}

LineRecord& nextLine(LinePipe* p) { return p->filling[p->used]; }

void handLine(LinePipe* p)
{
	if (++p->used == ChunkLines) handChunk(p);
}

void endLineBlock(LinePipe* p, int block)
{
	nextLine(p).t = -1 - block;
	handLine(p);
}

static void stopWorker(LinePipe* p)
{
	if (!p->threaded) return;
	{
		std::lock_guard<std::mutex> hold(p->lock);
		p->done = true;
	}
	p->changed.notify_all();
	p->worker.join();
	p->threaded = false;
}

void finishLines(LinePipe* p)
{
	if (p->used) handChunk(p);
	stopWorker(p);
	if (p->outOfMemory) throw std::bad_alloc();
	delete p;
}

void abandonLines(LinePipe* p)
{
	stopWorker(p);
	delete p;
}
