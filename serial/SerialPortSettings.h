#pragma once

#include <QtGlobal>

// The line settings of one port in the form the engine edits them, one field per
// setting like a Windows DCB, on top of the port's whole termios record. load()
// reads the record and derives the fields; apply() writes the fields back into
// that record and submits it, so every flag the fields do not cover keeps the
// port's value. The record travels as termios2, which carries any rate in bits
// per second, so this class lives in a translation unit of its own: the kernel's
// termios2 header and the C library's <termios.h> cannot meet.
class SerialPortSettings
{
public:
    enum Parity { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    // Stop bits as the UART produces them: 1.5 is CSTOPB with 5 data bits.
    enum StopBits { OneStopBit = 0, OneAndHalfStopBits = 1, TwoStopBits = 2 };
    enum RtsControl { RtsControlDisable = 0, RtsControlEnable = 1, RtsControlHandshake = 2 };

    // Bits per second, in both directions.
    quint32 baudRate = 0;
    // 5 to 8.
    quint8 byteSize = 8;
    quint8 parity = NoParity;
    // Input parity checking (INPCK); on with any parity but "none".
    bool parityEnabled = false;
    quint8 stopBits = OneStopBit;
    // Output waits for CTS.
    bool outxCtsFlow = false;
    // RTS held low, held high, or raised while the port can take bytes (CRTSCTS).
    quint8 rtsControl = RtsControlDisable;
    // XON/XOFF sent when the input queue fills (IXOFF), obeyed on output (IXON).
    bool inX = false;
    bool outX = false;
    // Raw bytes: no line editing, no echo, no signals, no output processing.
    bool binary = false;
    // Windows aborts transfers after a line error until the error is read; a tty
    // has no such mode, so the field is kept for the record only.
    bool abortOnError = false;

    // Reads the port's termios record and its RTS line. False when the port
    // refuses (not a terminal, hung up).
    bool load(int descriptor);
    // Submits the fields on top of the record read by load(), then drives RTS as
    // rtsControl says when the driver has modem lines.
    bool apply(int descriptor) const;
    // Submits the record read by load() unchanged.
    bool restore(int descriptor) const;

    // True when the rate has a rate constant of its own; others go out as an
    // arbitrary rate.
    static bool isStandardRate(quint32 baudRate);

private:
    // struct termios2 as loaded; opaque here so that this header does not pull in
    // the kernel's terminal definitions.
    alignas(8) unsigned char record[64] = {};
    bool loaded = false;
};
