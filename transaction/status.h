#pragma once

namespace varnel::transaction {

/// Status values shared across the transaction library. Operations return 0 on success and a
/// negative cause otherwise; searches return 1 for found and 0 for not found.
inline constexpr int kOk = 0;
/// No Transaction is held by the handle.
inline constexpr int kNoTransaction = -1;
/// Allocation failed while building a node.
inline constexpr int kAllocFailed = -2;
/// A tag would be longer than kMaxTagLength.
inline constexpr int kTagTooLong = -3;
/// LEN field malformed (not one subfield with one item).
inline constexpr int kBadLengthField = -4;
/// The traditional reader cannot open the file.
inline constexpr int kCannotOpen = -4;
/// Any failure of the traditional reader other than the ones below.
inline constexpr int kReadFailed = -5;
/// A field with that number is already present in the record.
inline constexpr int kFieldExists = -8;
/// Value too long for a field: its text would exceed kMaxFieldText bytes.
inline constexpr int kValueTooLong = -95;
/// A value holds a separator byte (FS, GS, RS or US) where the encoding cannot carry it.
inline constexpr int kSeparatorInValue = -96;
/// The edit would break a record's structure: LEN (x.001) is the library's to keep, and the
/// version (1.002) and a record's IDC (x.002 of Types 3 to 99) may be set but not removed or split.
inline constexpr int kStructuralField = -97;
/// Field number outside 1..9999.
inline constexpr int kFieldNumberRange = -98;
/// Protected field or record (1.001, 1.003, 2.001, 2.002, or Type 1/2 where refused).
inline constexpr int kProtected = -99;
/// Record of that type and occurrence not found.
inline constexpr int kRecordNotFound = -104;
/// A required text, path or buffer argument is missing.
inline constexpr int kMissingArgument = -106;
/// Feature block number outside 0..8.
inline constexpr int kBadFeatureBlock = -110;
/// Field, subfield or item not found.
inline constexpr int kNotFound = -300;
/// Argument out of range or of the wrong kind.
inline constexpr int kBadArgument = -302;
/// Image data too long for a record whose length is a 4-byte value.
inline constexpr int kDataTooLong = -302;
/// Image data cannot be decoded.
inline constexpr int kUndecodableImage = -303;
/// Record type is not an image type.
inline constexpr int kNotImageType = -307;
/// The file is XML, not traditional.
inline constexpr int kIsXml = -308;
/// The file is not a traditional transaction: its first record is not Type 1.
inline constexpr int kNotType1 = -309;

/// Causes named per operation; several share a documented value with a name above.

/// setFieldAt on a binary record: no record of that type and occurrence.
inline constexpr int kNoBinaryRecord = -8;
/// setFieldAt on a binary record: the record has no field with that number.
inline constexpr int kNoBinaryField = -104;
/// setFieldAt: the record is missing and only Types 1, 2 and 9 are created for a set.
inline constexpr int kRecordNotCreatable = -8;
/// A record of that type cannot be created for a set (not a tagged type).
inline constexpr int kNotTaggedType = -104;
/// setItem on an image data field: the file its text names cannot be read.
inline constexpr int kImageFileUnreadable = -4;
/// deleteField on a binary record: its fields are fixed.
inline constexpr int kBinaryFieldsFixed = -4;
/// insertRecord: a Type-1 record is never inserted.
inline constexpr int kInsertType1 = -3;
/// insertRecord: the position is before the first record after Type 1 or past the end.
inline constexpr int kBadRecordPosition = -4;
/// Deleting a record failed for want of memory.
inline constexpr int kDeleteFailed = -10;
/// exportImageData: the record has no image data field.
inline constexpr int kNoImageField = -2;
/// exportImageData: the file cannot be created or written.
inline constexpr int kExportWriteFailed = -6;

/// readTraditional and readTraditionalBytes: the precise cause of a malformed input, given in
/// ReadDetail::code while the status itself is kReadFailed. Several share a value; each names one
/// cause.
/// The input is empty.
inline constexpr int kReadEmpty = -1;
/// Type 1: the first field is not 1.001, or the second is not a one-item 1.002.
inline constexpr int kReadType1NoLen = -2;
inline constexpr int kReadType1NoVersion = -2;
/// Type 1: its LEN is not a number up to 2^31 - 1.
inline constexpr int kReadType1BadLen = -1;
/// Type 1: its LEN or version field ends the record.
inline constexpr int kReadType1LenEndsRecord = -3;
inline constexpr int kReadType1VersionEndsRecord = -4;
/// Type 1: its fields run past its LEN, or stop short of it.
inline constexpr int kReadType1PastLen = -1;
inline constexpr int kReadType1ShortOfLen = -7;
/// Tag: the input ends in the record type, or in the field number.
inline constexpr int kReadTagEndsInType = -3;
inline constexpr int kReadTagEndsInNumber = -6;
/// Tag: a record type that is empty or not digits, or longer than nine digits.
inline constexpr int kReadTagBadType = -4;
inline constexpr int kReadTagTypeTooLong = -5;
/// Tag: a field number that is empty or not digits, or longer than nine digits; a tag longer
/// than kMaxTagLength.
inline constexpr int kReadTagBadNumber = -7;
inline constexpr int kReadTagNumberTooLong = -8;
inline constexpr int kReadTagTooLong = -8;
/// A tagged field's value runs to the end of the input without a separator.
inline constexpr int kReadValueUnended = -2;
/// Image data of a tagged record: its LEN leaves no room for the data, the data run past the end
/// of the input, the input ends after them, or the byte after them is not FS.
inline constexpr int kReadDataNoRoom = -21;
inline constexpr int kReadDataPastEnd = -4;
inline constexpr int kReadDataUnended = -5;
inline constexpr int kReadDataNotFs = -6;
/// A tagged record (after Type 1): the first field is not its LEN, or its LEN is not a number.
inline constexpr int kReadRecordNoLen = -2;
inline constexpr int kReadRecordBadLen = -2;
/// A tagged record: its fields run past its LEN, or stop short of it.
inline constexpr int kReadRecordPastLen = -1;
inline constexpr int kReadRecordShortOfLen = -4;
/// A binary record: the input ends in its header; header value i (0-based) cut short is
/// kReadBinaryHeaderCut - i.
inline constexpr int kReadBinaryHeaderCut = -2;
/// A binary record: its length is below its header's size or above 2^31 - 1.
inline constexpr int kReadBinaryBadLength = -17;
/// A binary record: its image data run past the end of the input.
inline constexpr int kReadBinaryDataPastEnd = -10;
/// A binary record: its fields do not add up to its length.
inline constexpr int kReadBinaryLengthMismatch = -4;
/// Type 1 has no CNT (1.003), or a CNT subfield after the first is not two items.
inline constexpr int kReadNoCnt = -4;
inline constexpr int kReadBadCntEntry = -5;
/// CNT names a record type that is neither tagged nor binary.
inline constexpr int kReadUnknownType = -2;
/// Closing the file after reading failed.
inline constexpr int kReadCloseFailed = -5;
/// Memory ran out, or another exception stopped the read.
inline constexpr int kReadAborted = -9;

/// writeTraditional: the file cannot be created, a record type is neither tagged nor binary, a
/// tagged field has no tag, or a write failed.
inline constexpr int kWriteFailed = -2;
/// writeTraditional: a binary value of width 1, 2 or 4 is not a number that fits it.
inline constexpr int kBadByteValue = -41;
inline constexpr int kBadShortValue = -31;
inline constexpr int kBadLongValue = -21;
/// writeTraditional: closing the file failed after a failed write, or after a good one.
inline constexpr int kCloseAfterFailure = -3;
inline constexpr int kCloseFailed = -4;
/// writeTraditional: image data of a binary record could not be written.
inline constexpr int kDataWriteFailed = -6;

}  // namespace varnel::transaction
