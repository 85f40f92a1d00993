#pragma once

namespace varnel::rules {

/// Status values of the rules library. Operations return 0 (or 1 where noted) on success and a
/// negative cause otherwise.
inline constexpr int kOk = 0;
/// readRuleFile / writeRuleFile succeeded.
inline constexpr int kRuleFileDone = 1;
/// The rule file could not be opened or created.
inline constexpr int kRuleFileUnavailable = -1;
/// A parameter did not scan as the field address the action needs.
inline constexpr int kBadFieldAddress = -2;
/// A field text is longer than the working buffer of the action; nothing was changed.
inline constexpr int kTextTooLong = -3;
/// An output name would leave the destination folder.
inline constexpr int kPathOutsideDestination = -4;
/// A folder on the way to an output is a link.
inline constexpr int kNotARealFolder = -9;
/// An output name this run has already written.
inline constexpr int kOutputTaken = -10;
/// An output name that lands in the source folder.
inline constexpr int kOutputInSourceFolder = -11;
/// An output that exists already and may not be replaced (no-clobber).
inline constexpr int kOutputExists = -12;
/// Memory ran out.
inline constexpr int kOutOfMemory = -5;
/// A file could not be written, renamed or created.
inline constexpr int kWriteFailed = -6;
/// Another run of the same shard holds the destination folder.
inline constexpr int kShardInUse = -7;
/// The shard records of a destination folder do not make one complete set.
inline constexpr int kShardSetRefused = -8;

}  // namespace varnel::rules
