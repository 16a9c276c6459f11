// The computer browser dialog.
#include "admin/dialogs/computer_browser.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "admin/computer_list.h"

namespace qz::admin {

TComputerBrowser::TComputerBrowser(const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ComputerBrowser"));
  setWindowTitle(QStringLiteral("选择机器名"));
  setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("网络上的计算机："), this));
  List = new QListWidget(this);
  List->setObjectName(QStringLiteral("List"));
  for (const auto& n : names) List->addItem(QString::fromStdString(n));
  if (List->count() > 0) List->setCurrentRow(0);
  layout->addWidget(List);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  OkButton = new QPushButton(QStringLiteral("确定"), this);
  CancelButton = new QPushButton(QStringLiteral("取消"), this);
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);
  layout->addLayout(buttons);
  OkButton->setDefault(true);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(List, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  resize(300, 320);
}

QString TComputerBrowser::chosen() const {
  const QListWidgetItem* item = List->currentItem();
  return item ? item->text() : QString();
}

std::string BrowseForComputer(QWidget* parent) {
  TComputerBrowser browser(ListNetworkComputers(), parent);
  if (browser.exec() != QDialog::Accepted) return {};
  return browser.chosen().toStdString();
}

}  // namespace qz::admin
