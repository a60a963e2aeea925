#pragma once
// セル台帳の場所: where the cell library is, a file or a PostgreSQL server,
// kept in the ini file for the next start. Trying a location and writing the
// ini file happen on the file writer's thread.
#include <QDialog>

class FileWriter;
class QLabel;
class QLineEdit;
class QPushButton;

class Tlibraryplace : public QDialog
{
    Q_OBJECT
public:
    // iniPath: the ini file the choice is kept in; current: the library in use now.
    Tlibraryplace(FileWriter *files, const QString &iniPath, const QString &current, QWidget *parent = nullptr);

    QLineEdit *locationEdit;
    QPushButton *browseButton;
    QPushButton *tryButton;
    QLabel *resultLabel;
    QPushButton *okButton;
    QPushButton *cancelButton;

signals:
    // The location was written to the ini file (empty: the default file).
    void kept(const QString &location);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void browseClicked();
    void tryClicked();
    void okClicked();
    // Empty when location may be kept; the reason otherwise.
    QString refusal(const QString &location) const;

    FileWriter *m_files;
    const QString m_iniPath;
    const QString m_current;
};
