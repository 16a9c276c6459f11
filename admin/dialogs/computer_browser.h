// BrowseForComputer: a modal list of the machines the local network
// announces and those of /etc/hosts, titled "选择机器名". Every other
// window of the application is disabled while it is open.
//
// Thread-safety: window thread only.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace qz::admin {

class TComputerBrowser : public QDialog {
  Q_OBJECT
 public:
  TComputerBrowser(const std::vector<std::string>& names, QWidget* parent);
  // The chosen name, or empty when none is selected.
  QString chosen() const;

  QListWidget* List;
  QPushButton* OkButton;
  QPushButton* CancelButton;
};

// Runs the browser over the names of ListNetworkComputers. Returns the
// chosen computer's name, or an empty text when the operator cancels.
std::string BrowseForComputer(QWidget* parent);

}  // namespace qz::admin
