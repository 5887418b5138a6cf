// OptionFormUnit: the member card options dialog.
//
// TOptionForm shows MemberOptions in five selection boxes
// (MemberOptionInputOf) and, on "确定", assigns them back in order (port,
// block, sector, key, key flag), saves them (ApplyMemberOptionInput) and asks
// for a restart. A block or sector that is no integer ends the
// assignment with the conversion error in the error box and closes the dialog;
// the fields assigned before it keep their new values. GUI thread only.
#ifndef VELIO_MEMBER_OPTIONFORMUNIT_H_
#define VELIO_MEMBER_OPTIONFORMUNIT_H_

#include <QDialog>

#include "member/OptionUnit.h"

class QComboBox;
class QLabel;
class QPushButton;

class TOptionForm : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and fills them from MemberOptions (FormCreate).
  // REQUIRES: MemberOptions exists.
  explicit TOptionForm(QWidget* parent = nullptr);

  QLabel* PortNameLbl;
  QLabel* SectorLbl;
  QLabel* BlockLbl;
  QLabel* KeyLbl;
  QLabel* KeyFlagLbl;
  QComboBox* PortNameCmb;
  QComboBox* SectorCmb;
  QComboBox* BlockCmb;
  QComboBox* KeyCmb;
  QComboBox* KeyFlagCmb;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 public slots:
  void OKBtnClick();
  void CancelBtnClick();

 private:
  void FormCreate();
};

// Opens the options dialog modally (the member device's settings dialog).
void ShowMemberOptionsDialog();

#endif  // VELIO_MEMBER_OPTIONFORMUNIT_H_
