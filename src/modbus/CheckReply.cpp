// Validation of a received reply frame: the rules the engine applies before a
// command gets to see the reply PDU.

#include "modbus/ModbusMaster.h"

#include "codec/Crc16.h"

namespace {

// Input-register blocks of the sensor and the quantities read from each: a read
// of input registers is accepted only for these pairs. Other start addresses
// are not checked.
bool inputRegisterQuantityOk(const quint8 *requestPdu)
{
    const int start = requestPdu[1] * 256 + requestPdu[2];
    const int quantity = requestPdu[3] * 256 + requestPdu[4];
    switch (start) {
    case 0x0000:
        return quantity == 5;
    case 0x0005:
        return quantity == 2;
    case 0x0007:
        return quantity == 1;
    case 0x2000:
        return quantity == 3 || quantity == 5;
    default:
        return true;
    }
}

// The data bytes a read of holding registers asks for: twice the request's
// quantity; 4 (one flash word) when the request is not known.
int heldBytesAsked(const quint8 *requestPdu)
{
    if (requestPdu == nullptr || requestPdu[0] != 3)
        return 4;
    return 2 * (requestPdu[3] * 256 + requestPdu[4]);
}

} // namespace

QString ExceptionText(quint8 code)
{
    switch (code) {
    case 1:
        return QStringLiteral("Неподдерживаемая функция");
    case 2:
        return QStringLiteral("Недопустимый адрес");
    case 3:
        return QStringLiteral("Недопустимое значение");
    case 4:
        return QStringLiteral("Ошибка устройства");
    case 5:
        return QStringLiteral("Запрос принят, но требует много времени обработки");
    case 6:
        return QStringLiteral("Устройство занято");
    case 8:
        return QStringLiteral("Ошибка паритета памяти");
    default:
        return QStringLiteral("Неизвестная ошибка");
    }
}

std::optional<QString> CheckReplyRules(const quint8 *rx, qint32 n, int busAddress,
                                       const quint8 *requestPdu)
{
    if (const std::optional<ReplyFailure> failure = CheckReplyFailure(rx, n, busAddress, requestPdu))
        return failure->text;
    return std::nullopt;
}

std::optional<ReplyFailure> CheckReplyFailure(const quint8 *rx, qint32 n, int busAddress,
                                              const quint8 *requestPdu)
{
    const auto length = [](const char16_t *text) {
        return ReplyFailure{QString::fromUtf16(text), TransactFailure::Length};
    };
    const auto other = [](const char16_t *text) {
        return ReplyFailure{QString::fromUtf16(text), TransactFailure::Other};
    };

    if (rx == nullptr || n < 4)
        return length(u"Слишком маленький пакет");
    if (Crc16(rx, n) != 0)
        return ReplyFailure{QStringLiteral("Ошибка CRC"), TransactFailure::Crc};
    if (rx[0] != busAddress)
        return other(u"Неверный адрес устройства");
    // The reply PDU (the frame without address and CRC) must fit the reply buffer.
    if (n - 3 > ModbusMaster::BufSize)
        return length(u"Неверная длина пакета");

    switch (rx[1]) {
    case 3:
        if (n != rx[2] + 5)
            return length(u"Неверная длина пакета");
        // A holding-register read brings two bytes per register asked for: two
        // registers (one flash word) unless the request asked for a block.
        if (rx[2] != heldBytesAsked(requestPdu))
            return length(u"Неверная длина данных");
        return std::nullopt;
    case 4:
        if (n != rx[2] + 5)
            return length(u"Неверная длина пакета");
        if (requestPdu != nullptr && !inputRegisterQuantityOk(requestPdu))
            return other(u"Неверно запрашиваемое количество регистров");
        return std::nullopt;
    case 8: {
        const int subFunction = rx[2] * 256 + rx[3];
        if (subFunction != 0 && subFunction != 1)
            return other(u"Неверный код подфункции");
        return std::nullopt;
    }
    case 16:
        if (n != 8)
            return length(u"Неверная длина пакета");
        // Every register write of the tool writes three registers.
        if (rx[4] * 256 + rx[5] != 3)
            return length(u"Неверная длина данных");
        return std::nullopt;
    case 43:
        return std::nullopt;
    case 0x83:
    case 0x84:
    case 0x88:
    case 0x90:
    case 0xAB:
        if (n != 5)
            return length(u"Неверная длина пакета");
        return ReplyFailure{QStringLiteral("Ошибка - %1 [код ошибки %2]")
                                .arg(ExceptionText(rx[2]), QString::number(rx[2])),
                            TransactFailure::Exception};
    default:
        return other(u"Недопустимый код функции");
    }
}
