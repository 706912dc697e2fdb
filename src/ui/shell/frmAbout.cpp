#include "ui/shell/frmAbout.h"

#include "core/settings/AppConfig.h"
#include "platform/SystemInfo.h"
#include "ui/shell/AboutBoxActions.h"
#include "ui/shell/ProgramIcon.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillax {

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    const QString title = QString::fromUtf8(config::kProductTitle);
    setWindowTitle(QStringLiteral("关于『") + title + QStringLiteral("』 "));
    setMouseTracking(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(18);

    auto* picture = new QLabel(this);
    picture->setPixmap(ProgramIcon().pixmap(64, 64));
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(picture, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    const auto plain = [this](const QString& text, const char* name) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextFormat(Qt::PlainText);
        // Moves over the plain texts count as moves over the window, which hide the underline.
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        return label;
    };
    lsoftname = plain(title, "lsoftname");
    QFont big = lsoftname->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    lsoftname->setFont(big);
    lblVersion = plain(QStringLiteral("版本 ") + config::versionText(), "lblVersion");
    lblSystem = plain(SystemValues().SystemVersionText, "lblSystem");
    lblSystem->setWordWrap(true);
    lblSystem->setStyleSheet(QStringLiteral("color: #555555;"));
    lblSystem->setVisible(!SystemValues().SystemVersionText.isEmpty());
    Label1 = plain(QStringLiteral("软件制作：岚舟软件"), "Label1");
    texts->addWidget(lsoftname);
    texts->addWidget(lblVersion);
    texts->addWidget(lblSystem);
    texts->addSpacing(8);
    texts->addWidget(Label1);

    Label2 = link(QStringLiteral("岚舟软件："), config::makerSite(),
                  IsMakerPageConfigured(MakerPage::Site));
    Label2->setObjectName(QStringLiteral("Label2"));
    Label7 = link(QStringLiteral("青禾软件："), config::makerSecondSite(),
                  IsMakerPageConfigured(MakerPage::SecondSite));
    Label7->setObjectName(QStringLiteral("Label7"));
    Label4 = link(QStringLiteral("Email："), config::mailAddress(), IsSuggestionMailConfigured());
    Label4->setObjectName(QStringLiteral("Label4"));
    for (QLabel* label : {Label2, Label7, Label4}) {
        auto* row = new QHBoxLayout;
        row->addWidget(label);
        row->addStretch(); // the label is as wide as its text, and so is its underline
        texts->addLayout(row);
    }
    texts->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cmdSysInfo = new QPushButton(QStringLiteral("系统信息(&S)..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    buttons->addWidget(cmdSysInfo);
    buttons->addWidget(cmdOK);
    texts->addSpacing(10);
    texts->addLayout(buttons);
    layout->addLayout(texts, 1);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [] { StartSysInfo(); });

    // Outside the layout: it is placed under whichever link the mouse is over.
    Line2 = new QFrame(this);
    Line2->setObjectName(QStringLiteral("Line2"));
    Line2->setFrameShape(QFrame::NoFrame);
    Line2->setStyleSheet(QStringLiteral("background-color: #1a5fb4;"));
    Line2->setAttribute(Qt::WA_TransparentForMouseEvents);
    Line2->setVisible(false);

    setMinimumWidth(460);
}

QLabel* frmAbout::link(const QString& caption, const QString& address, bool configured) {
    auto* label = new QLabel(caption + address, this);
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    // A page that is not configured is not offered.
    label->setEnabled(configured);
    if (configured) {
        label->setStyleSheet(QStringLiteral("color: #1a5fb4;"));
        label->setCursor(Qt::PointingHandCursor);
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }
    return label;
}

void frmAbout::模拟网址下划线(QLabel* label) {
    const QRect area = label->geometry();
    Line2->setGeometry(area.left(), area.bottom() + 1, area.width(), 1);
    Line2->raise();
    Line2->setVisible(true);
}

void frmAbout::mouseMoveEvent(QMouseEvent* event) {
    Line2->setVisible(false);
    QDialog::mouseMoveEvent(event);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    auto* label = qobject_cast<QLabel*>(watched);
    if (label != nullptr && (label == Label2 || label == Label7 || label == Label4)) {
        switch (event->type()) {
        case QEvent::MouseMove:
            // Taken here, so that it does not reach the window, whose moves hide the line.
            模拟网址下划线(label);
            return true;
        case QEvent::Enter:
            模拟网址下划线(label);
            break;
        case QEvent::Leave:
            Line2->setVisible(false);
            break;
        case QEvent::MouseButtonRelease:
            linkClicked(label);
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::linkClicked(QLabel* label) {
    if (label == Label2) {
        OpenMakerPage(MakerPage::Site);
    } else if (label == Label7) {
        OpenMakerPage(MakerPage::SecondSite);
    } else if (label == Label4) {
        ComposeSuggestionMail(this);
    }
}

void ShowAboutBox(QWidget* parent) {
    frmAbout box(parent);
    box.exec();
}

QAction* AddMakerPageEntry(QMenu* menu, const QString& caption, MakerPage page) {
    QAction* action = menu->addAction(caption, menu, [page] { OpenMakerPage(page); });
    action->setEnabled(IsMakerPageConfigured(page));
    return action;
}

QAction* AddSuggestionMailEntry(QMenu* menu, QWidget* owner) {
    QPointer<QWidget> window = owner;
    QAction* action = menu->addAction(QStringLiteral("给软件作者建议"), menu,
                                      [window] { ComposeSuggestionMail(window); });
    action->setEnabled(IsSuggestionMailConfigured());
    return action;
}

} // namespace quillax
