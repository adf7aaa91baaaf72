#include "PortAccess.h"

#include "UComWin.h"

#include <cerrno>

QString PortAccessHint(const std::exception &failure)
{
#ifdef Q_OS_WIN
    // Windows reports a port in use by another program as "access denied":
    // no group helps there.
    Q_UNUSED(failure);
    return {};
#else
    const auto *port = dynamic_cast<const EComPort *>(&failure);
    if (!port || port->code() != TComExceptions::CE_OpenFailed || port->winCode() != EACCES)
        return {};
    return QStringLiteral("Нет доступа к порту: пользователь должен входить в группу dialout "
                          "(sudo usermod -aG dialout $USER, затем войти заново)");
#endif
}
