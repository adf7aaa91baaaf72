#include "app/ZartApplication.h"

#include "common/ZartError.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <exception>

ZartApplication::ZartApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    installQtTranslation();
}

bool ZartApplication::installQtTranslation()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

bool ZartApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const ZartError &e) {
        report(e.text());
    } catch (const std::exception &e) {
        report(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void ZartApplication::report(const QString &text)
{
    if (m_report) {
        try {
            m_report(text);
            return;
        } catch (...) {
        }
    }
    QMessageBox::critical(nullptr, applicationName(), text);
}
