#include "package_fixtures.h"

#include <lzma.h>

#include <cstdlib>
#include <stdexcept>

#include "kel/base/hashes.h"
#include "kel/base/text.h"

namespace orvi::test {

std::string BuildPackage(const PackageFiles& files, int level) {
  setup::TSetupPackageBuilder builder{std::string(setup::kSetupPackageKey)};
  for (const auto& [name, content] : files) {
    kel::TKELMemoryStream stream(content);
    builder.Add(stream, name);
  }
  kel::TKELMemoryStream out;
  builder.CommitTo(out, level);
  return std::string(out.View());
}

std::unique_ptr<setup::TSetupPackageReader> OpenPackage(const std::string& bytes) {
  kel::TKELMemoryStream source(bytes);
  return std::make_unique<setup::TSetupPackageReader>(source);
}

std::string OpenError(const std::string& bytes) {
  try {
    OpenPackage(bytes);
    return "";
  } catch (const kel::Exception& e) {
    return e.Message();
  }
}

std::string Scramble(std::string bytes) {
  const std::string key(setup::kSetupPackageKey);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
  return bytes;
}

namespace {

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

std::string BodyOf(const PackageFiles& files) {
  std::string body;
  std::string table;
  Put(table, files.size(), 4);
  for (const auto& [name, content] : files) {
    const std::u16string units = kel::kelUtf8ToUtf16(name);
    Put(table, units.size(), 2);
    for (char16_t unit : units) Put(table, unit, 2);
    Put(table, body.size(), 8);
    Put(table, content.size(), 8);
    body += content;
  }
  Put(table, table.size(), 4);
  return body + table;
}

uint32_t Crc(const std::string& bytes) { return kel::kelCrc32Update(0, bytes.data(), bytes.size()); }

std::string WrapStream(const std::string& lzmaStream, uint32_t bodySize, uint32_t checksum) {
  std::string package = "IPK5";
  Put(package, checksum, 4);
  Put(package, bodySize, 4);
  return package + Scramble(lzmaStream);
}

std::string EncodeWithEndMarker(const std::string& body, uint32_t lc, uint32_t lp, uint32_t pb,
                                uint32_t dictionary) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  options.dict_size = dictionary;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) throw std::runtime_error("lzma_raw_encoder");
  std::string encoded(body.size() + body.size() / 2 + 1024, '\0');
  stream.next_in = reinterpret_cast<const uint8_t*>(body.data());
  stream.avail_in = body.size();
  stream.next_out = reinterpret_cast<uint8_t*>(encoded.data());
  stream.avail_out = encoded.size();
  const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
  encoded.resize(encoded.size() - stream.avail_out);
  lzma_end(&stream);
  if (result != LZMA_STREAM_END) throw std::runtime_error("lzma_code");
  std::string lzma(1, static_cast<char>((pb * 5 + lp) * 9 + lc));
  Put(lzma, dictionary, 4);
  return WrapStream(lzma + encoded, static_cast<uint32_t>(body.size()), Crc(body));
}

std::string XzLzma1Options(const setup::TSetupPackageLzmaSettings& settings) {
  return "dict=" + std::to_string(settings.DictionarySize) + ",lc=" + std::to_string(settings.Lc) +
         ",lp=" + std::to_string(settings.Lp) + ",pb=" + std::to_string(settings.Pb) +
         ",mode=" + (settings.FastMode ? "fast" : "normal") + ",mf=" + (settings.FastMode ? "hc4" : "bt4") +
         ",nice=" + std::to_string(settings.FastBytes) + ",depth=" + std::to_string(settings.MatchFinderCycles);
}

bool HaveXz() { return std::system("command -v xz >/dev/null 2>&1") == 0; }

}  // namespace orvi::test
