// A developer's way to look at the challenge dialog without the main window:
// it asks from the "nivlets" file of the working directory, one challenge
// after another for as long as "Next challenge!" is chosen.
#include "challengedialog.h"
#include "log.h"
#include "nivletcore.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    openLog();
    int status = 0;
    {
        NivletCore core;
        if (!core.open()) {
            status = 1;
        } else {
            QTextStream out(stdout);
            bool again = true;
            while (again) {
                if (core.activeListStale() && !core.reloadActiveNivlets()) {
                    status = 1;
                    break;
                }
                Nivlet *nivlet = core.nextNivlet();
                if (!nivlet) {
                    QMessageBox::information(nullptr, QStringLiteral("nivlets"),
                                             QStringLiteral("There is no nivlet to ask."));
                    break;
                }
                ChallengeDialog dialog(nullptr, &core, core.activeList()->hold(nivlet));
                const int result = dialog.exec();
                out << "nivlet " << nivlet->id << ": result " << result << ", outcome "
                    << dialog.outcome() << ", answer \"" << dialog.answerText() << "\"\n";
                out.flush();
                again = result == QDialog::Accepted && dialog.outcome() == 1;
            }
        }
    }
    closeLog();
    return status;
}
