// Codes of the impossible states. Each reporting place has its own code; the message reads
// "(internal failure 0xNN) <text>".
#pragma once

#include <cstdint>

namespace quorva {

enum class InternalFailure : std::uint8_t {
    BadNurbsDivision1 = 0x01,
    BadNurbsDivision2 = 0x02,
    BadNurbsDivision3 = 0x03,
    BadNurbsDivision4 = 0x04,
    BadNurbsDivision5 = 0x05,
    BadNurbsDivision6 = 0x06,
    UnknownBlobbyComponent = 0x07,
    UnknownBlobbyElement = 0x08,
    UnknownBlobbyElement2 = 0x09,
    UnknownBlobbyComponent2 = 0x0a,
    BadNodeType = 0x0b,
    CannotDeallocateRequest = 0x0c,
    BadSolidType0 = 0x0d,
    BadSolidType1 = 0x0e,
    BadSolidType2 = 0x0f,
    BadSolidType3 = 0x10,
    EmptySolidRequest = 0x11,
    BadSolidType4 = 0x12,
    BadSolidType5 = 0x13,
    DivisionByZero = 0x14,
    BadImageType1 = 0x15,
    BadImageType2 = 0x16,
    BadImageType3 = 0x17,
    UnsupportedImageBuffer = 0x18,
    BadColorIndex = 0x19,
    BadImageType4 = 0x1a,
    BadSymbolType = 0x1b,
    BadLightType1 = 0x1c,
    BadLightType3 = 0x1e,
    InvalidLightingFunction = 0x1f,
    BadLightType2 = 0x21,
    DeallocateNull = 0x22,
    BadPixelSizeRead = 0x24,
    BadPixelSizeWrite = 0x25,
    BadPixelSizeWriteCompressed = 0x26,
    BadSBufferRow = 0x27,
    EmptySolidRequestWorld = 0x28,
    BadSolidRequestType = 0x29,
    SuperquadricRoot = 0x2a,
    BadDefinitionType = 0x2b,
    BadShapeType = 0x2c,
    HalfVectorNull = 0x2d,
    PriorityQueueSpace = 0x2e,
    NullRequest = 0x2f,
    Bisecting = 0x30,
};

// Reports an internal failure as a fatal error: "(internal failure 0x%02x) " then the text.
// Code 0x30 is written "(Internal failure 0x30) ..." with a capital I.
[[noreturn]] void internalFailure(InternalFailure code, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace quorva
