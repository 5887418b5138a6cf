-- Client.db: the door-lock record store.
-- Date-times are stored as text 'YYYY-MM-DD HH:MM:SS.fff', as the SQLite ODBC
-- driver writes them, so that either engine opens the other's file; files
-- written before hold REAL day numbers since 1899-12-30, which are still read.
-- Texts are UTF-8; IsCopy is 0 or 1. RoomNo is unique in T_Room, so that
-- servers sharing the file never store a room twice.

CREATE TABLE IF NOT EXISTS T_Room (
  RoomNo TEXT,
  LastCheckInTime REAL,
  CONSTRAINT UQ_T_Room_RoomNo UNIQUE (RoomNo)
);

CREATE TABLE IF NOT EXISTS T_IssueCardRecord (
  RegisterId TEXT,
  CardNo TEXT,
  RoomNo TEXT,
  CardType INTEGER,
  LastCheckInTime REAL,
  CheckInTime REAL,
  CheckOutTime REAL,
  IsCopy INTEGER,
  GuestName TEXT,
  OpratingTime REAL
);
