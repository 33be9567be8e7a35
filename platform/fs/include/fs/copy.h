#pragma once
// Copying and moving objects into a folder, standing in for the File
// Manager's FSPathCopyObjectSync and FSPathMoveObjectSync, with their result
// codes: fnfErr for a missing source, dirNFErr for a missing destination
// folder, dupFNErr when the destination exists and may not be replaced.
// On failure errno also holds the underlying system error.

#include <cstdint>
#include <string>
#include <string_view>

#include "fs/errors.h"

namespace vfs {

using OptionBits = std::uint32_t;

inline constexpr OptionBits kFSFileOperationDefaultOptions = 0;
inline constexpr OptionBits kFSFileOperationOverwrite = 1;  // replace what is there

// Copies the object (a file, a link as a link, or a folder with its
// contents) into destFolder under destName, or under its own name when
// destName is null. The copy is made under a temporary name in destFolder
// and then renamed into place, so the destination never holds a partial
// copy. *targetPath (when given) receives the machine path of the copy.
OSErr FSPathCopyObjectSync(std::string_view source, std::string_view destFolder,
                           const char* destName, std::string* targetPath, OptionBits options);

// Moves the object into destFolder, as FSPathCopyObjectSync names it. Within
// one volume a rename (never replacing anything without the overwrite
// option, atomically); across volumes a copy and then a removal of the source.
OSErr FSPathMoveObjectSync(std::string_view source, std::string_view destFolder,
                           const char* destName, std::string* targetPath, OptionBits options);

}  // namespace vfs
