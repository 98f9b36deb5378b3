#pragma once
#include <windows.h>

// A stand-in for uxtheme's buffered painting, loaded by the tests in place of uxtheme.dll. It
// exports BeginBufferedPaint, BufferedPaintSetAlpha and EndBufferedPaint by name, does the
// buffering for real (a 32-bit top-down DIB over the target rectangle, copied to the target on
// EndBufferedPaint) and records each call, so that the order, rectangles, formats and alpha
// values can be checked where Wine's own BufferedPaintSetAlpha is only a stub.
// Left out: the paint parameters (no erase, no clip, no blend function: EndBufferedPaint copies),
// every format but a 32-bit top-down DIB (each format gets one), BufferedPaintInit and the rest
// of the buffered-paint and animation functions.

enum EPaintCallKind { PAINT_CALL_BEGIN = 1, PAINT_CALL_SET_ALPHA, PAINT_CALL_END, PAINT_CALL_MARK };

struct CPaintCall {
    int kind;
    RECT rect;           // Begin: the target rectangle; SetAlpha: the rectangle (all 0 for NULL)
    BOOL rectGiven;
    int format;          // Begin
    BOOL paramsGiven;    // Begin: a BP_PAINTPARAMS pointer was passed
    HDC paintDC;         // Begin: the DC handed out
    void* buffer;        // every call but Mark
    BYTE alpha;          // SetAlpha
    BOOL updateTarget;   // End
    int mark;            // Mark: the caller's tag
};

// Looked up by name with GetProcAddress on the loaded module.
using RecorderResetFn = void (*)();
using RecorderCallCountFn = int (*)();
using RecorderGetCallFn = BOOL (*)(int index, CPaintCall* call);
// Lets other code (a test control's Draw) put itself into the sequence.
using RecorderMarkFn = void (*)(int tag);
// The pixels (BGRA, top-down) of the last buffer as it was when EndBufferedPaint received it.
// Returns the number of pixels copied; width and height give the buffer's size.
using RecorderLastBufferFn = int (*)(DWORD* pixels, int capacity, int* width, int* height);
// Buffers begun and not yet ended.
using RecorderOpenBuffersFn = int (*)();
