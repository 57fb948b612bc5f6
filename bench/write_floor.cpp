// kobrat's reads and writes without its conversion: the least a run can
// cost on a machine, whatever the encoder costs.
//
//   write_floor --plan RECORDS PLAN  writes to PLAN the sizes of the blocks
//                                    kobrat writes when it makes RECORDS,
//                                    one to a line
//   write_floor IN OUT PLAN          reads IN in the blocks kobrat reads and
//                                    writes OUT in the blocks of PLAN, each
//                                    as soon as kobrat would have it full
//
// The second form goes through the same platform layer as kobrat, so it
// makes the same system calls: the same reads, the same writes of whole
// records cut where the buffer passes the flush threshold, the same space
// reserved ahead. Only the bytes differ (a constant filler), which the file
// system does not care about. bench/compare.sh times it beside kobrat.
#include "platform/platform.h"
#include "tool/record_format.h"
#include "tool/records.h"
#include "tool/run.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int fail(const char *what, const char *name) {
  std::fprintf(stderr, "write_floor: %s %s: %s\n", what, name,
               platform::error_text(platform::last_error()));
  return 2;
}

// Walks the records of RECORDS by their length prefixes and cuts them into
// blocks the way the converter does: a block is written as soon as the
// record just added takes it past the threshold, and the rest at the end.
int make_plan(const char *records_name, const char *plan_name) {
  std::FILE *records = std::fopen(records_name, "rb");
  if (records == nullptr)
    return fail("cannot open", records_name);
  std::FILE *plan = std::fopen(plan_name, "w");
  if (plan == nullptr)
    return fail("cannot create", plan_name);
  std::vector<unsigned char> record(MAX_RECORD_SIZE);
  std::size_t fill = 0;
  while (std::fread(record.data(), 1, PREFIX_SIZE, records) == PREFIX_SIZE) {
    int length = parse_length_prefix(record.data());
    if (length < static_cast<int>(MIN_RECORD_SIZE) ||
        length > static_cast<int>(MAX_RECORD_SIZE) ||
        std::fseek(records, length - static_cast<long>(PREFIX_SIZE),
                   SEEK_CUR) != 0) {
      std::fprintf(stderr, "write_floor: %s is not a file of records\n",
                   records_name);
      return 2;
    }
    fill += static_cast<std::size_t>(length);
    if (fill > FLUSH_THRESHOLD) {
      std::fprintf(plan, "%zu\n", fill);
      fill = 0;
    }
  }
  if (fill > 0)
    std::fprintf(plan, "%zu\n", fill);
  std::fclose(records);
  return std::fclose(plan) == 0 ? 0 : fail("cannot write", plan_name);
}

std::vector<std::size_t> read_plan(const char *plan_name, long long &total) {
  std::vector<std::size_t> blocks;
  total = 0;
  std::FILE *plan = std::fopen(plan_name, "r");
  if (plan == nullptr)
    return blocks;
  std::size_t size;
  while (std::fscanf(plan, "%zu", &size) == 1 && size <= OUTPUT_BUFFER_ROOM) {
    blocks.push_back(size);
    total += static_cast<long long>(size);
  }
  std::fclose(plan);
  return blocks;
}

long long input_size(const char *name) {
  std::FILE *f = std::fopen(name, "rb");
  if (f == nullptr || std::fseek(f, 0, SEEK_END) != 0)
    return -1;
  long long size = std::ftell(f);
  std::fclose(f);
  return size;
}

// Reads IN and writes the planned blocks, paced so that the output keeps
// the same share of the input read so far as the converter's does.
int copy(const char *in_name, const char *out_name, const char *plan_name) {
  long long total_out = 0, total_in = input_size(in_name);
  std::vector<std::size_t> blocks = read_plan(plan_name, total_out);
  if (blocks.empty() || total_in <= 0)
    return fail("no plan or no input in", plan_name);
  std::vector<unsigned char> in(INPUT_BLOCK_SIZE + 1);
  std::vector<unsigned char> out(OUTPUT_BUFFER_ROOM, '0');
  platform::File input = platform::open_input(in_name);
  if (input == platform::NO_FILE)
    return fail("cannot open", in_name);
  platform::File output = platform::open_output_file(
      out_name, platform::Disposition::CREATE_ALWAYS, input);
  if (output == platform::NO_FILE)
    return fail("cannot create", out_name);
  long long read_so_far = 0, written = 0;
  std::size_t next = 0;
  for (;;) {
    long n = platform::read_input(input, in.data(), INPUT_BLOCK_SIZE);
    if (n < 0)
      return fail("cannot read", in_name);
    read_so_far += n;
    long long due =
        n == 0 ? total_out
               : static_cast<long long>(static_cast<double>(read_so_far) /
                                        static_cast<double>(total_in) *
                                        static_cast<double>(total_out));
    while (next < blocks.size() &&
           written + static_cast<long long>(blocks[next]) <= due) {
      if (!platform::write_all(output, out.data(), blocks[next]))
        return fail("cannot write", out_name);
      written += static_cast<long long>(blocks[next++]);
    }
    if (n == 0)
      break;
  }
  platform::close_file(input);
  return platform::close_file(output) ? 0 : fail("cannot close", out_name);
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::strcmp(argv[1], "--plan") == 0)
    return make_plan(argv[2], argv[3]);
  if (argc == 4)
    return copy(argv[1], argv[2], argv[3]);
  std::fprintf(stderr, "usage: write_floor --plan RECORDS PLAN\n"
                       "       write_floor IN OUT PLAN\n");
  return 2;
}
