#pragma once
// The application object: its name, and the one place where what escapes an
// event handler is caught and shown with the standard error display.
#include <QApplication>

class VoltrakApplication : public QApplication
{
public:
    VoltrakApplication(int &argc, char **argv);
    // The program goes on after the handler that threw has ended.
    bool notify(QObject *receiver, QEvent *event) override;
};
