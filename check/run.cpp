// The runs of kobrat-check. A file is read in large blocks through the
// platform layer and fed to the record checker; under --text the texts of
// the sound records are gathered into a block of their own and written to
// standard output whenever it fills. Memory is the same for a file of any
// size: the two blocks and the checker.
#include "check/run.h"

#include "check/checker.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t INPUT_BLOCK_SIZE = 262144;
constexpr std::size_t TEXT_BLOCK_SIZE = 262144;

unsigned char input_block[INPUT_BLOCK_SIZE];
unsigned char text_block[TEXT_BLOCK_SIZE];
RecordChecker checker;

// The texts on their way to standard output.
struct TextOutput {
  std::size_t fill = 0;   // bytes in text_block
  bool line_open = false; // a full piece came last: its line goes on
  bool failed = false;    // a write failed; nothing more is written
  int error = 0;
};

enum class Outcome { SOUND, FAULTY, READ_FAILED, WRITE_FAILED };

void write_text_block(TextOutput &out) {
  if (out.fill == 0 || out.failed)
    return;
  if (std::fwrite(text_block, 1, out.fill, stdout) != out.fill) {
    out.failed = true;
    out.error = platform::last_error();
  }
  out.fill = 0;
}

// Adds a record's text, then an LF unless the next record continues the
// line. One byte of room is always left for the LF that ends the output.
void put_text(TextOutput &out, const CheckedRecord &record) {
  if (out.fill + record.text_size + 1 >= TEXT_BLOCK_SIZE)
    write_text_block(out);
  std::memcpy(text_block + out.fill, record.text, record.text_size);
  out.fill += record.text_size;
  out.line_open = continues_line(record.size);
  if (!out.line_open)
    text_block[out.fill++] = '\n';
}

// Ends the last line, if a full piece left it open, and writes out the rest.
void end_text(TextOutput &out) {
  if (out.line_open) {
    text_block[out.fill++] = '\n';
    out.line_open = false;
  }
  write_text_block(out);
  if (!out.failed && std::fflush(stdout) != 0) {
    out.failed = true;
    out.error = platform::last_error();
  }
}

// Feeds one block to the checker, the texts to `out` if there is one.
// Returns false at a fault or a failed write.
bool feed_block(const unsigned char *in, std::size_t count, TextOutput *out) {
  for (;;) {
    std::size_t used = 0;
    CheckedRecord record;
    Step step = next_record(checker, in, count, used, record);
    in += used;
    count -= used;
    if (step != Step::RECORD)
      return step == Step::MORE;
    if (out != nullptr) {
      put_text(*out, record);
      if (out->failed)
        return false;
    }
  }
}

Outcome read_records(platform::File file, TextOutput *out, int &error) {
  checker_start(checker);
  for (;;) {
    long n = platform::read_input(file, input_block, INPUT_BLOCK_SIZE);
    if (n < 0) {
      error = platform::last_error();
      return Outcome::READ_FAILED;
    }
    if (n == 0)
      return checker_end(checker) ? Outcome::SOUND : Outcome::FAULTY;
    if (!feed_block(input_block, static_cast<std::size_t>(n), out))
      return out != nullptr && out->failed ? Outcome::WRITE_FAILED
                                           : Outcome::FAULTY;
  }
}

void report_error(const char *name, int error) {
  std::fprintf(stderr, "kobrat-check: %s: %s\n", name,
               platform::error_text(error));
}

// "NAME: ok, ..." for a sound file, "NAME: record N at byte B: ..." for one
// that is not.
void print_verdict(std::FILE *stream, const char *name) {
  if (checker.fault == Fault::NONE) {
    std::fprintf(stream, "%s: ok, %llu %s, %llu bytes, longest %zu\n", name,
                 static_cast<unsigned long long>(checker.records),
                 checker.records == 1 ? "record" : "records",
                 static_cast<unsigned long long>(checked_bytes(checker)),
                 checker.longest);
    return;
  }
  char what[128];
  describe_fault(checker, what, sizeof what);
  std::fprintf(stream, "%s: record %llu at byte %llu: %s\n", name,
               static_cast<unsigned long long>(checker.records + 1),
               static_cast<unsigned long long>(checker.offset), what);
}

// Opens and reads one file. A file that cannot be opened is READ_FAILED,
// with the reason in `error`.
Outcome read_file(const char *name, TextOutput *out, int &error) {
  platform::File file = platform::open_input(name);
  if (file == platform::NO_FILE) {
    error = platform::last_error();
    return Outcome::READ_FAILED;
  }
  Outcome outcome = read_records(file, out, error);
  platform::close_file(file);
  return outcome;
}

int check_file(const char *name) {
  int error = 0;
  switch (read_file(name, nullptr, error)) {
  case Outcome::SOUND:
    print_verdict(stdout, name);
    return CHECK_SOUND;
  case Outcome::FAULTY:
    print_verdict(stdout, name);
    return CHECK_FAULTY;
  case Outcome::READ_FAILED:
  case Outcome::WRITE_FAILED:
    break;
  }
  report_error(name, error);
  return CHECK_TROUBLE;
}

} // namespace

int check_files(char **files, int file_count) {
  int status = CHECK_SOUND;
  for (int i = 0; i < file_count; ++i) {
    int file_status = check_file(files[i]);
    if (file_status > status)
      status = file_status;
  }
  return status;
}

int write_texts(const char *file) {
  TextOutput out;
  int error = 0;
  Outcome outcome = read_file(file, &out, error);
  // What was read before a fault or a failed read is written all the same.
  end_text(out);
  if (out.failed) {
    report_error("standard output", out.error);
    return CHECK_TROUBLE;
  }
  switch (outcome) {
  case Outcome::SOUND:
    return CHECK_SOUND;
  case Outcome::FAULTY:
    print_verdict(stderr, file);
    return CHECK_FAULTY;
  case Outcome::READ_FAILED:
  case Outcome::WRITE_FAILED:
    break;
  }
  report_error(file, error);
  return CHECK_TROUBLE;
}
