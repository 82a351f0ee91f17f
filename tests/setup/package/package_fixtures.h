// Small helpers shared by the package tests: building packages in memory,
// taking them apart, and an encoder that does not go through the builder.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "setup/package/package.h"

namespace orvi::test {

using PackageFiles = std::vector<std::pair<std::string, std::string>>;  // name, content

// A package of the files, in order, as the builder writes it.
std::string BuildPackage(const PackageFiles& files, int level = setup::kSetupPackageDefaultLevel);
std::unique_ptr<setup::TSetupPackageReader> OpenPackage(const std::string& bytes);
// The message of the kel::Exception that opening raises, or "" when it opens.
std::string OpenError(const std::string& bytes);

// XOR with the engine's key from the first byte on (its own inverse).
std::string Scramble(std::string bytes);
// The uncompressed body of files and table, as the builder lays it out.
std::string BodyOf(const PackageFiles& files);
// A package around `lzmaStream` (properties header included, unscrambled),
// claiming the given body length and checksum.
std::string WrapStream(const std::string& lzmaStream, uint32_t bodySize, uint32_t checksum);
// The body encoded by liblzma directly as plain LZMA1 (which ends with an
// end marker), with the given properties, wrapped as a package.
std::string EncodeWithEndMarker(const std::string& body, uint32_t lc, uint32_t lp, uint32_t pb, uint32_t dictionary);
uint32_t Crc(const std::string& bytes);

// xz's --lzma1 option text for the settings of a level.
std::string XzLzma1Options(const setup::TSetupPackageLzmaSettings& settings);
bool HaveXz();

}  // namespace orvi::test
