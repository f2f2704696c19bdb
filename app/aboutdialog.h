#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

#include <QDialog>

// The product, its build, its web page and its licence, with one button that
// closes the box.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent);

    static const char webAddress[];
    static const char legalNotice[];
};

#endif
