#pragma once

#include "SerialDevice.h"
#include "common/ZartError.h"

#include <QString>
#include <memory>
#include <vector>

// Failure codes of a serial link.
enum class TComExceptions {
    CE_OpenFailed,
    CE_SetupComFailed,
    CE_SetStateFailed,
    CE_TimeoutsFailed,
    CE_PurgeFailed,
    CE_WriteFailed,
    CE_ReadFailed,
    CE_EscapeComFailed,
};

// The text of a failure code ("Unable to open com port", ...).
QString ComExceptionText(TComExceptions code);

// A failure of the serial port: the text, plus " (Error: N)" when the
// platform gave an error number above 0, plus ": " and the detail when one is
// given ("Unable to open com port (Error: 13): /dev/ttyUSB0: permission denied").
class SerialLinkError : public ZartError
{
public:
    SerialLinkError(TComExceptions code, int winCode, const QString &baseText,
             const QString &detail = QString(), const QString &devicePath = QString());
    TComExceptions code() const { return m_code; }
    int winCode() const { return m_winCode; } // -1 when the platform gave none
    // The device a port that could not be opened leads to; empty otherwise.
    const QString &devicePath() const { return m_devicePath; }
    static QString composeText(const QString &baseText, int winCode);

private:
    TComExceptions m_code;
    int m_winCode;
    QString m_devicePath;
};

// One serial link with fixed line settings (8 data bits, even parity,
// 1 stop bit, no flow control) and bounded, blocking exchanges.
class SerialLink
{
public:
    enum Status : quint8 { Ok = 0, StartFailed = 1, TimedOut = 2, Incomplete = 3 };
    static constexpr int RxBufSize = 10000;
    static constexpr int WriteWaitMs = 200;
    static constexpr int SilenceMs = 40; // silence that ends a reply

    // Without a device the link uses the QSerialPort one.
    explicit SerialLink(std::unique_ptr<ISerialDevice> device = nullptr);
    ~SerialLink();
    SerialLink(const SerialLink &) = delete;
    SerialLink &operator=(const SerialLink &) = delete;

    // Rate for a speed text: one of 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
    // 19200, 38400, 56000, 57600, 115200, 128000, 256000; anything else gives 9600.
    static qint32 SpeedFromText(const QString &text);

    // The port name is "COMN", a device path beginning with '/', or a device
    // name in /dev (see PortNaming.h); it is never empty.
    QString GetPortName() const;
    // Sets the port; its stable link (PortNaming::stableLinkFor, looked up
    // now) is remembered, and every opening goes through it: an adapter that
    // comes back, or two that swap their /dev/ttyUSB numbers, keep their roles.
    void SetPortName(const QString &name);
    // The stable link remembered for the port; empty when its device had none
    // (a pseudo-terminal, a built-in port, an adapter not plugged in).
    QString stablePath() const { return m_stablePath; }
    // The line that names the stable link once the port is set ("Постоянное
    // имя порта: /dev/serial/by-id/..."); empty when there is none, or when
    // the port was given by that link itself.
    QString stablePathLine() const;
    void SetSpeed(const QString &text);
    qint32 speed() const { return m_baud; }
    bool isOpen() const;
    // Whether a device's error number says that the device itself has gone
    // (unplugged, hung up, its handle no longer valid) rather than that one
    // call failed. A link whose device fails thus closes it, raising the
    // failure as usual (a write that cannot start leaves LinkStatus 1), and
    // opens the port again by its stable link, or else its name, at the next
    // exchange. A time-out never closes the link.
    static bool IsDeviceGone(int error);

    // Opens the port when it is closed (Send and SetPower(true) do so
    // themselves), leaving DTR and RTS de-asserted. A port that cannot be
    // opened raises "Unable to open com port (Error: N): <device>: <reason>",
    // or, when another process holds it, "Порт <device> занят: его держит
    // процесс <pid> (<name>)" (PortBusyFailure) without an error number.
    void open();

    void Send(const quint8 *frame, int count);
    void Receive();
    void SetPower(bool on);
    bool IsFrameComplete() const;

    ISerialDevice &device() { return *m_device; }

    // Outcome of the last Send/Receive and the reply buffer, as the callers read them.
    quint8 LinkStatus = Ok;
    qint32 ReplyTimeout = 400;
    // Fast reply end: Receive returns as soon as the bytes received form a
    // whole frame (ReplyFrameLength), instead of after the silence; bytes
    // that trail the frame are not taken. Off by default.
    bool FastReply = false;
    std::vector<quint8> RxBuf;
    qint32 RxCount = 0;

    // How long the last reply took, on the steady clock, from the moment Send
    // handed the request's last byte to the driver (so the request's own time
    // on the line is part of it) to the first byte received, and to the last
    // byte of the whole frame (the silence that ends a reply is not part of
    // it). -1 where it was not measured: Send did not finish its write, nothing
    // came in time, or the bytes are no whole frame (frameNs).
    struct ReplyTiming
    {
        qint64 firstByteNs = -1;
        qint64 frameNs = -1;
    };
    ReplyTiming LastTiming;

private:
    void close();
    void dropIfGone();
    // Raises code with the device's error number, closing a device that has gone.
    [[noreturn]] void raise(TComExceptions code);
    [[noreturn]] static void raiseOpenFailed(const QString &port, int error);

    std::unique_ptr<ISerialDevice> m_device;
    QString m_portName = QStringLiteral("COM1");
    QString m_stablePath;
    qint32 m_sentCount = 0; // length of the last request frame: an echo is as long
    qint64 m_writeEndNs = -1; // steady clock when Send's write finished; -1: it did not
    qint32 m_baud = 9600;
};
