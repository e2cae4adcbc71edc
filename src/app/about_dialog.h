#pragma once
// The About box: program version, date and a picture of an encoder disc.
#include <QDialog>
#include <QPixmap>
#include <memory>

namespace Ui {
class CAboutDlg;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};

// An absolute encoder's code disc seen from the front, `size` pixels square.
QPixmap encoderDiscPixmap(int size, qreal devicePixelRatio = 1.0);
