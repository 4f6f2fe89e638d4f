#include "windows/about_window.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace vidmora {

TFQAbout::TFQAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TFQAbout"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_MediaPlay);
  Image1->setPixmap(icon.pixmap(32, 32));
  Image1->setFixedSize(32, 32);
  BitBtn1 = new QPushButton(tr("&OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  Id1 = new QLabel(this);
  Id1->setObjectName(QStringLiteral("Id1"));
  Id1->setWordWrap(false);
  Id1->setTextFormat(Qt::PlainText);
  Id1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(17, 17, 17, 17);
  layout->setHorizontalSpacing(17);
  layout->addWidget(Image1, 0, 0, Qt::AlignTop);
  layout->addWidget(Id1, 0, 1);
  layout->addWidget(BitBtn1, 1, 0, 1, 2, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void showAbout(const QString& caption, const QString& text, int helpContext, QWidget* owner) {
  TFQAbout form(owner);
  form.setWindowTitle(caption);
  form.setProperty("helpContext", helpContext);
  form.Id1->setText(text);
  form.adjustSize();
  // Escape closes it like the OK button (Default and Cancel at once).
  form.exec();
}

}  // namespace vidmora
