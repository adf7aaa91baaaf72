#pragma once

#include <QApplication>
#include <functional>

// The application object. A failure that escapes an event handler (every
// handler of the main window already catches its own) ends at the general
// error report instead of ending the program.
class ZartApplication : public QApplication
{
    Q_OBJECT

public:
    using ErrorReport = std::function<void(const QString &text)>;

    // Loads Qt's Russian texts (installQtTranslation) as well.
    ZartApplication(int &argc, char **argv);

    // Qt's own texts (the line edits' context menus, the file dialogs, the
    // standard buttons) in Russian, from qtbase_ru.qm in Qt's translations
    // directory. Captions the windows set themselves are not touched. False
    // when the translation is not installed.
    static bool installQtTranslation();

    void setErrorReport(ErrorReport report) { m_report = std::move(report); }
    bool notify(QObject *receiver, QEvent *event) override;

private:
    void report(const QString &text);

    ErrorReport m_report;
};
