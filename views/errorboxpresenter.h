#ifndef ERRORBOXPRESENTER_H
#define ERRORBOXPRESENTER_H

#include <QMessageBox>
#include <QString>

#include <memory>

// Makes every error the log reports to the user come up in a modal message
// box titled "Error". The program calls it once at start-up, before the store
// can report anything; so does every test that expects such boxes.
void installErrorBoxPresenter();

// The box as it comes up, not yet shown.
std::unique_ptr<QMessageBox> errorBox(const QString &text);

#endif
