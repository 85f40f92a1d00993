#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace varnel::jpegl {

/// One decoded component plane.
struct JpeglComponent {
  int id = 0;
  int h = 1;  ///< horizontal sampling factor
  int v = 1;  ///< vertical sampling factor
  int tableId = 0;
  int predictor = 0;
  int pointTransform = 0;
  int width = 0;   ///< ceil(h / hmax * X)
  int height = 0;  ///< ceil(v / vmax * Y)
  std::vector<std::uint8_t> plane;
};

/// A decoded lossless JPEG image: one 8-bit plane per component.
struct JpeglDecoded {
  int width = 0;
  int height = 0;
  int precision = 0;
  int ppi = -1;
  std::vector<JpeglComponent> components;
};

/// Decodes a process-14 lossless JPEG stream in a JFIF wrapper: SOI, APP0, tables and comments,
/// SOF3 with 1-4 components of 2-8 bit precision, one non-interleaved scan per component, EOI.
/// Returns 0 or a negative status of imaging/jpegl/status.h (`out` unspecified on failure; this
/// implementation leaves it untouched). Reads never go past `stream`.
[[nodiscard]] int jpeglDecode(std::span<const std::uint8_t> stream, JpeglDecoded& out) noexcept;

/// What a status of imaging/jpegl/status.h most likely means, as a short English text for
/// messages and failure reasons ("the stream is truncated").
[[nodiscard]] const char* jpeglStatusText(int status) noexcept;

/// Concatenates the component planes (component 1 first) into `pixels` and reports width, height,
/// depth (8 x component count) and ppi of the image. Returns 0, or kImageFailed (outputs
/// untouched) when the image has no components, a plane that was never decoded, or allocation
/// fails.
[[nodiscard]] int jpeglImage(const JpeglDecoded& image, std::vector<std::uint8_t>& pixels,
                             int& width, int& height, int& depth, int& ppi) noexcept;

/// Kind of a decoder diagnostic: the progress of the readers, or an "ERROR : " text.
enum class JpeglMessage { kTrace, kError };

/// Receives one decoder diagnostic (the text ends in a newline where the message does). Must not
/// throw; may be called from any thread that decodes.
using JpeglDiagnosticSink = void (*)(JpeglMessage kind, std::string_view text) noexcept;

/// Sets the process-wide diagnostic level of the decoder. 0 (the default) delivers nothing; 1 and
/// above deliver the "ERROR : " diagnostics and trace the segments read; 2 and above also the
/// header fields. Diagnostics go only to the sink set by jpeglSetDiagnosticSink: the decoder
/// itself never writes to a stream. Meant for investigating streams.
void jpeglSetDebugLevel(int level) noexcept;

/// Sets (or with nullptr removes) the process-wide receiver of diagnostics; none by default.
void jpeglSetDiagnosticSink(JpeglDiagnosticSink sink) noexcept;

/// The current diagnostic level.
[[nodiscard]] int jpeglDebugLevel() noexcept;

}  // namespace varnel::jpegl
