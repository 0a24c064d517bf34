#include "values_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

void storeLittleEndian(std::uint64_t v, int bytes, unsigned char* out)
{
	for (int i = 0; i < bytes; ++i) out[i] = (unsigned char)(v >> (8 * i));
}

std::string failure(const char* what)
{
	return std::string(what) + " (" + std::strerror(errno) + ")";
}

} // namespace

ValuesFile::ValuesFile(const std::string& target, long markers, int valuesPerLine)
    : out(target), markers(markers), perLine(valuesPerLine)
{
}

ValuesFile::~ValuesFile()
{
	if (fd >= 0) close(fd);
}

bool ValuesFile::open(std::string* why)
{
	fd = ::open(out.temporary().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
	if (fd < 0) {
		*why = failure("cannot be created");
		return false;
	}
	unsigned char header[ValuesHeaderSize];
	std::memcpy(header, ValuesMagic, 8);
	storeLittleEndian(ValuesVersion, 4, header + 8);
	storeLittleEndian((std::uint64_t)perLine, 4, header + 12);
	storeLittleEndian((std::uint64_t)markers, 8, header + 16);
	return put(header, sizeof header, 0, why);
}

bool ValuesFile::put(const unsigned char* bytes, size_t n, long long offset, std::string* why)
{
	while (n) {
		ssize_t done = pwrite(fd, bytes, n, (off_t)offset);
		if (done < 0 && errno == EINTR) continue;
		if (done <= 0) {
			*why = failure("cannot be written");
			return false;
		}
		bytes += done;
		n -= (size_t)done;
		offset += done;
	}
	return true;
}

bool ValuesFile::writeLines(long first, long count, const double* values, std::string* why)
{
	std::vector<unsigned char> bytes((size_t)count * perLine * 8);
	for (size_t i = 0; i < (size_t)count * perLine; ++i) {
		std::uint64_t bits;
		std::memcpy(&bits, &values[i], 8);
		storeLittleEndian(bits, 8, &bytes[8 * i]);
	}
	linesWritten += count;
	return put(bytes.data(), bytes.size(), ValuesHeaderSize + 8LL * perLine * first, why);
}

bool ValuesFile::finish(std::string* why)
{
	if (linesWritten != markers) {
		*why = "holds " + std::to_string(linesWritten) + " of " + std::to_string(markers) + " lines";
		return false;
	}
	int status = close(fd);
	fd = -1;
	if (status != 0) {
		*why = failure("cannot be written");
		return false;
	}
	return out.commit(why);
}
