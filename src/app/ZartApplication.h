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

    ZartApplication(int &argc, char **argv);

    void setErrorReport(ErrorReport report) { m_report = std::move(report); }
    bool notify(QObject *receiver, QEvent *event) override;

private:
    void report(const QString &text);

    ErrorReport m_report;
};
