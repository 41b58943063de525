// The smallest Qt Widgets program with a window and a button: the start-up yardstick.
// With --japanese its caption and button are Japanese in the window's font, which
// separates what loading a CJK font costs from what the logout window itself costs.
#include "FirstPaint.h"

#include <QApplication>
#include <QFont>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

int main(int argc, char* argv[])
{
    const bool japanese = argc > 1 && std::strcmp(argv[1], "--japanese") == 0;
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton(QStringLiteral("OK"), &window);
    layout->addWidget(button);
    if (japanese) {
        QFont font;
        font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK JP")});
        font.setPixelSize(11);
        window.setFont(font);
        window.setWindowTitle(QStringLiteral("ログアウト処理"));
        button->setText(QStringLiteral("終了"));
    }
    window.resize(640, 480);
    new bench::FirstPaint(&window);
    window.show();
    return app.exec();
}
