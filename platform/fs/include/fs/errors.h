#pragma once
// File Manager result codes. Callers print and store these numbers, so they
// are the platform's own values.

#include <cstdint>

namespace vfs {

using OSErr = std::int32_t;

inline constexpr OSErr noErr = 0;
inline constexpr OSErr dskFulErr = -34;  // disk or quota full
inline constexpr OSErr nsvErr = -35;     // no such volume: an invalid reference
inline constexpr OSErr ioErr = -36;
inline constexpr OSErr bdNamErr = -37;  // bad name (too long)
inline constexpr OSErr tmfoErr = -42;   // too many files open
inline constexpr OSErr fnfErr = -43;    // file not found
inline constexpr OSErr wPrErr = -44;    // volume is read-only
inline constexpr OSErr fBsyErr = -47;   // busy, or a folder that is not empty
inline constexpr OSErr dupFNErr = -48;  // the destination already exists
inline constexpr OSErr paramErr = -50;
inline constexpr OSErr memFullErr = -108;
inline constexpr OSErr dirNFErr = -120;      // folder not found
inline constexpr OSErr notAFileErr = -1302;  // expected a file, got a folder
inline constexpr OSErr errFSNotAFolder = -1407;
inline constexpr OSErr errFSNoMoreItems = -1417;
inline constexpr OSErr pathTooLongErr = -2110;  // a path does not fit the caller's buffer
inline constexpr OSErr afpAccessDenied = -5000;

// The File Manager code for a failed system call's errno.
OSErr osErrFromErrno(int error);

}  // namespace vfs
