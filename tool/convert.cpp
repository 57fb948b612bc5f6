// The data path: input descriptor -> text reader -> record encoder ->
// block writer -> output descriptor.
#include "INCLUDE1/Generic6.h"
#include "INCLUDE1/exit_status.h"
#include "tool/records.h"
#include "tool/run.h"

#include <cstdio>

namespace {

// Writes the whole records gathered so far; a failed write ends the run.
void flush_records(RecordEncoder &encoder) {
  std::size_t count = encoder_whole_records(encoder);
  if (count == 0)
    return;
  if (write_block(RunState.output_file, encoder.out, count) != count) {
    int error = platform::last_error();
    std::fprintf(stderr, "\nerror writing output file %s: %s\n", output_name(),
                 platform::error_text(error));
    abort_run(WRITE_ERROR);
  }
  encoder_drained(encoder);
}

// Encodes one block of input, writing the buffer out each time it fills.
void encode_block(RecordEncoder &encoder, const unsigned char *in,
                  std::size_t count) {
  while (count > 0 && !encoder.ended) {
    std::size_t used = encode_text(encoder, in, count);
    in += used;
    count -= used;
    if (encoder_full(encoder))
      flush_records(encoder);
  }
}

// The records completed before a read error are written; a line that the
// error cut short is not made into a record, since its text is not all
// there. The run then ends with status 11.
[[noreturn]] void fail_reading(RecordEncoder &encoder, int error) {
  flush_records(encoder);
  std::fprintf(stderr, "\nerror reading input file %s: %s\n",
               RunState.input_name, platform::error_text(error));
  abort_run(READ_ERROR);
}

} // namespace

void convert_records() {
  RecordEncoder encoder;
  encoder_start(encoder, RunState.output_buffer);
  while (!encoder.ended) {
    platform::check_interrupt();
    long n = platform::read_input(RunState.input_stream, RunState.line_buffer,
                                  INPUT_BLOCK_SIZE);
    if (n < 0)
      fail_reading(encoder, platform::last_error());
    if (n == 0)
      break;
    encode_block(encoder, RunState.line_buffer, static_cast<std::size_t>(n));
  }
  encode_end(encoder);
  flush_records(encoder);
}
