// Progress files (.spg) on any content: the decoder the sender uses and
// riadump's reader agree; with 8 bytes or more the day is the first four
// and the offset the second four taken down to a record boundary (never up,
// never by a whole record); fewer bytes are no progress. What the sender
// writes back decodes to the same progress.
//
// Input: the file's content.
#include <string>

#include "FuzzSupport.h"
#include "SiteViews.h"
#include "record/ProgressFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tessel::Progress decoded;
  const bool ok = tessel::DecodeProgress(data, size, &decoded);
  FUZZ_CHECK(ok == (size >= 8));

  const std::string path = fuzz::ScratchDir() + "127.0.0.1_8000.spg";
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
  views::Progress shown;
  FUZZ_CHECK(views::ReadProgress(path, &shown) == ok);
  if (!ok) return 0;

  fuzz::Reader in(data, size);
  const std::int32_t day = static_cast<std::int32_t>(in.U32());
  const std::uint32_t offset = in.U32();
  FUZZ_CHECK(decoded.day == day);
  FUZZ_CHECK(decoded.offset % 1247 == 0);
  FUZZ_CHECK(decoded.offset <= offset && offset - decoded.offset < 1247);
  FUZZ_CHECK(shown.day == decoded.day && shown.offset == decoded.offset);

  unsigned char written[tessel::kProgressSize];
  tessel::EncodeProgress(decoded, written);
  tessel::Progress again;
  FUZZ_CHECK(tessel::DecodeProgress(written, sizeof written, &again));
  FUZZ_CHECK(again.day == decoded.day && again.offset == decoded.offset);
  return 0;
}
