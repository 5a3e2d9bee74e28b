// The busy pictures, drawn here: the spinner (a disc in quarters), the down
// and up arrows (0 to 4 chevrons), the PC and the writer box.
#pragma once

#include <QWidget>

namespace torvela_gui {

class picture final : public QWidget {
public:
    // n: the picture's number (Image1..Image16).
    picture(int n, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int n_;
};

}  // namespace torvela_gui
