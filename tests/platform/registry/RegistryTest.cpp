#include "tests/platform/registry/RegistryFixture.h"

#include <QDir>
#include <cstring>

namespace kestrom::registry {
namespace {

LONG SetRaw(HKEY key, const QString& name, DWORD type, const QByteArray& data) {
  return RegSetValueEx(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                       static_cast<DWORD>(data.size()));
}

TEST_F(RegistryTest, TypedReadsCheckTypeAndLength) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\TFramecatcher\\Devices\\Cam", true));
  const double onePointFive = 1.5;
  const QByteArray eight(reinterpret_cast<const char*>(&onePointFive), 8);
  ASSERT_EQ(SetRaw(reg.CurrentKey(), "Str", REG_SZ, QByteArray("42", 3)), ERROR_SUCCESS);
  ASSERT_EQ(SetRaw(reg.CurrentKey(), "Exp", REG_EXPAND_SZ, QByteArray("%HOME%", 7)), ERROR_SUCCESS);
  ASSERT_TRUE(reg.WriteInteger("Int", 42));
  ASSERT_EQ(SetRaw(reg.CurrentKey(), "ShortInt", REG_DWORD, QByteArray("\x2a\0", 2)), ERROR_SUCCESS);
  ASSERT_TRUE(reg.WriteFloat("Bin8", 1.5));
  ASSERT_TRUE(reg.WriteBinaryData("Bin4", QByteArray("\0\1\2\3", 4)));
  ASSERT_EQ(SetRaw(reg.CurrentKey(), "None", REG_NONE, QByteArray("\7\7\7", 3)), ERROR_SUCCESS);

  constexpr LONG OK = ERROR_SUCCESS, TYPE = ERROR_INVALID_DATATYPE, MISSING = ERROR_FILE_NOT_FOUND;
  struct Row {
    const char* name;
    TRegDataType type;
    int size;
    LONG asString, asInteger, asFloat, asBinary;
  };
  const Row rows[] = {
      {"Str", TRegDataType::rdString, 3, OK, TYPE, TYPE, TYPE},
      {"Exp", TRegDataType::rdExpandString, 7, OK, TYPE, TYPE, TYPE},
      {"Int", TRegDataType::rdInteger, 4, TYPE, OK, TYPE, TYPE},
      {"ShortInt", TRegDataType::rdInteger, 2, TYPE, TYPE, TYPE, TYPE},
      {"Bin8", TRegDataType::rdBinary, 8, TYPE, TYPE, OK, OK},
      {"Bin4", TRegDataType::rdBinary, 4, TYPE, TYPE, TYPE, OK},
      {"None", TRegDataType::rdUnknown, 3, TYPE, TYPE, TYPE, OK},
      {"Missing", TRegDataType::rdUnknown, -1, MISSING, MISSING, MISSING, MISSING},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(reg.GetDataType(row.name), row.type);
    EXPECT_EQ(reg.GetDataSize(row.name), row.size);
    EXPECT_EQ(reg.ValueExists(row.name), row.size >= 0);

    const auto s = reg.ReadString(row.name);
    EXPECT_EQ(reg.LastError(), row.asString);
    EXPECT_EQ(s.has_value(), row.asString == OK);
    const auto i = reg.ReadInteger(row.name);
    EXPECT_EQ(reg.LastError(), row.asInteger);
    EXPECT_EQ(i.has_value(), row.asInteger == OK);
    const auto b = reg.ReadBool(row.name);
    EXPECT_EQ(b.has_value(), row.asInteger == OK);
    const auto f = reg.ReadFloat(row.name);
    EXPECT_EQ(reg.LastError(), row.asFloat);
    EXPECT_EQ(f.has_value(), row.asFloat == OK);
    const auto bin = reg.ReadBinaryData(row.name);
    EXPECT_EQ(reg.LastError(), row.asBinary);
    ASSERT_EQ(bin.has_value(), row.asBinary == OK);
    if (bin) {
      EXPECT_EQ(bin->size(), row.size);
    }
  }
  EXPECT_EQ(reg.ReadString("Str"), QString("42"));
  EXPECT_EQ(reg.ReadString("Exp"), QString("%HOME%"));
  EXPECT_EQ(reg.ReadInteger("Int"), 42);
  EXPECT_EQ(reg.ReadBool("Int"), true);
  EXPECT_EQ(reg.ReadFloat("Bin8"), 1.5);
  EXPECT_EQ(reg.ReadBinaryData("Bin8"), eight);

  // The buffer form of a binary read refuses a buffer that is too small.
  char buffer[4];
  EXPECT_EQ(reg.ReadBinaryData("Bin4", buffer, 4), 4);
  EXPECT_EQ(std::memcmp(buffer, "\0\1\2\3", 4), 0);
  EXPECT_EQ(reg.ReadBinaryData("Bin8", buffer, 4), -1);
  EXPECT_EQ(reg.LastError(), ERROR_MORE_DATA);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirStoredCaseAndBlanks) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\TFramecatcher\\Devices\\USB Cam ", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\TFramecatcher\\Devices\\USB Cam ");
    ASSERT_TRUE(reg.WriteBinaryData("CameraControlValues ", QByteArray(168, '\1')));
    ASSERT_TRUE(reg.WriteInteger("CameraControlValues Size", 168));
    // Written again under another case: the value keeps its first name.
    ASSERT_TRUE(reg.WriteBinaryData("CAMERACONTROLVALUES ", QByteArray(168, '\2')));
  }
  ForgetLoadedHives();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("software\\tframecatcher\\DEVICES\\usb cam ", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\TFramecatcher\\Devices\\USB Cam ");
  EXPECT_EQ(reg.GetValueNames(), QStringList({"CameraControlValues ", "CameraControlValues Size"}));
  EXPECT_TRUE(reg.ValueExists("cameracontrolvalues "));
  EXPECT_FALSE(reg.ValueExists("CameraControlValues"));  // the blank is part of the name
  EXPECT_EQ(reg.ReadBinaryData("CameraControlValues "), QByteArray(168, '\2'));
  EXPECT_FALSE(reg.KeyExists("\\Software\\TFramecatcher\\Devices\\USB Cam"));
  ASSERT_TRUE(reg.OpenKey("\\Software\\TFramecatcher\\Devices", false));
  EXPECT_EQ(reg.GetKeyNames(), QStringList({"USB Cam "}));
  EXPECT_TRUE(HiveText(HKEY_CURRENT_USER).contains("[HKEY_CURRENT_USER\\Software\\TFramecatcher\\Devices\\USB Cam ]"));
}

TEST_F(RegistryTest, DeletingAKeyTakesItsWholeTree) {
  TRegistry reg;
  for (const char* path : {"Software\\T\\Devices\\A\\Formats", "Software\\T\\Devices\\B", "Software\\T\\Other"}) {
    ASSERT_TRUE(reg.OpenKey(QString("\\") + path, true));
    ASSERT_TRUE(reg.WriteString("Name", path));
  }
  HKEY devices = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\T\\Devices", 0, KEY_ALL_ACCESS, &devices), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Software\\T\\Devices"), ERROR_ACCESS_DENIED);  // has subkeys
  EXPECT_EQ(RegDeleteKey(devices, "B"), ERROR_SUCCESS);  // has none
  EXPECT_EQ(RegDeleteKey(devices, "B"), ERROR_FILE_NOT_FOUND);

  EXPECT_TRUE(reg.DeleteKey("\\Software\\T\\Devices"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\T\\Devices"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\T\\Devices\\A\\Formats"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\T\\Other"));
  // The handle outlived its key.
  EXPECT_EQ(RegSetStringValue(devices, "X", "y"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(devices), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(devices), ERROR_INVALID_HANDLE);

  // An empty sub-key empties the key and keeps it; a hive's root cannot be deleted.
  HKEY t = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\T", 0, KEY_ALL_ACCESS, &t), ERROR_SUCCESS);
  ASSERT_EQ(RegSetStringValue(t, "V", "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(t, ""), ERROR_SUCCESS);
  DWORD subKeys = 9, values = 9;
  EXPECT_EQ(RegQueryInfoKey(t, &subKeys, nullptr, &values, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 0u);
  RegCloseKey(t);
  EXPECT_FALSE(reg.DeleteKey("\\"));
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);

  ForgetLoadedHives();
  EXPECT_TRUE(reg.KeyExists("\\Software\\T"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\T\\Other"));
}

TEST_F(RegistryTest, BinaryValuesKeepTheirExactLength) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\T\\Devices\\Cam", 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  QByteArray withZeros(1000, '\0');
  for (int i = 0; i < withZeros.size(); i += 3) withZeros[i] = static_cast<char>(i);
  const QByteArray blocks[] = {QByteArray(), QByteArray(1, '\0'), QByteArray("\0\0\0\0\0\0\0\1", 8), withZeros};
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(SetRaw(key, QString("Block%1").arg(i), REG_BINARY, blocks[i]), ERROR_SUCCESS);
  RegCloseKey(key);
  ForgetLoadedHives();

  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\T\\Devices\\Cam", 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const QString name = QString("Block%1").arg(i);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key, name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, static_cast<DWORD>(blocks[i].size()));
    QByteArray read(static_cast<qsizetype>(size) + 5, 'x');
    DWORD capacity = static_cast<DWORD>(read.size());
    ASSERT_EQ(RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(read.data()), &capacity),
              ERROR_SUCCESS);
    EXPECT_EQ(capacity, size);
    EXPECT_EQ(read.left(static_cast<qsizetype>(size)), blocks[i]);
  }
  // A buffer one byte short: ERROR_MORE_DATA and the size needed.
  BYTE small[999];
  DWORD capacity = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key, "Block3", nullptr, nullptr, small, &capacity), ERROR_MORE_DATA);
  EXPECT_EQ(capacity, 1000u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, WindowsCallsAnswerAsTheCallersExpect) {
  // Registration of a class as the filter library does it, under HKEY_CLASSES_ROOT.
  const QString clsid = "CLSID\\{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF}";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, clsid, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetStringValue(key, "", "Brightfold Deinterlacer"), ERROR_SUCCESS);
  HKEY server = nullptr;
  ASSERT_EQ(RegCreateKeyEx(key, "InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetStringValue(server, "", "/opt/kestrom/deinterlacer.so"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetStringValue(server, "ThreadingModel", "Both"), ERROR_SUCCESS);
  // A key opened for writing only cannot be read.
  EXPECT_EQ(RegQueryValueEx(server, "ThreadingModel", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(server);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", 0, KEY_READ, &key), ERROR_SUCCESS);
  QString text;
  EXPECT_EQ(RegQueryStringValue(key, "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "/opt/kestrom/deinterlacer.so");
  EXPECT_EQ(RegQueryStringValue(key, "threadingmodel", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "Both");
  EXPECT_EQ(RegSetStringValue(key, "ThreadingModel", "Apartment"), ERROR_ACCESS_DENIED);  // opened to read
  // Enumeration in stored order, ending with ERROR_NO_MORE_ITEMS.
  QString name;
  DWORD type = 0;
  BYTE data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegEnumValue(key, 0, &name, &type, data, &size), ERROR_MORE_DATA);  // the path is longer
  EXPECT_EQ(name, "");
  EXPECT_EQ(size, 29u);
  size = sizeof data;
  EXPECT_EQ(RegEnumValue(key, 1, &name, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(name, "ThreadingModel");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(QByteArray(reinterpret_cast<char*>(data), static_cast<qsizetype>(size)), QByteArray("Both", 5));
  EXPECT_EQ(RegEnumValue(key, 2, &name, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
  EXPECT_EQ(RegEnumKeyEx(HKEY_CLASSES_ROOT, 0, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "CLSID");
  EXPECT_EQ(RegEnumKeyEx(HKEY_CLASSES_ROOT, 1, &name), ERROR_NO_MORE_ITEMS);

  // Each root is its own hive file.
  EXPECT_TRUE(HiveText(HKEY_CLASSES_ROOT).contains("\"ThreadingModel\"=\"Both\""));
  EXPECT_FALSE(QFile::exists(HiveFilePath(HKEY_CURRENT_USER)));

  // A machine-wide value read through a key opened with the create flag: absent reads as missing.
  TRegistry machine(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(machine.OpenKey("\\Software\\Microsoft\\DirectX", true));
  EXPECT_FALSE(machine.ReadString("Version").has_value());
  EXPECT_EQ(machine.LastError(), ERROR_FILE_NOT_FOUND);

  // The default value and a value named "@" are different values.
  TRegistry user;
  ASSERT_TRUE(user.OpenKey("Software\\Microsoft\\Internet Account Manager", true));
  EXPECT_FALSE(user.ValueExists(""));
  ASSERT_TRUE(user.WriteString("Default Mail Account", "00000001"));
  ASSERT_TRUE(user.WriteString("@", "at"));
  EXPECT_FALSE(user.ValueExists(""));
  ASSERT_TRUE(user.WriteString("", "default"));
  EXPECT_EQ(user.ReadString(""), QString("default"));
  EXPECT_EQ(user.ReadString("@"), QString("at"));
  // Relative paths go below the current key.
  ASSERT_TRUE(user.OpenKey("Accounts\\00000001", true));
  EXPECT_EQ(user.CurrentPath(), "Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001");

  // Bad arguments are refused, not stored.
  EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(uintptr_t{0x1234}), "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Bad\nName", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegSetStringValue(HKEY_CURRENT_USER, "Line\nBreak", "x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueEx(HKEY_CURRENT_USER, "x", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, AWriteThatCannotBeSavedChangesNothing) {
  // The registry folder's place is taken by a plain file: nothing can be written there.
  const QString blocked = dir_.filePath("blocked");
  QFile file(blocked);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  SetRegistryDirectory(blocked + "/registry");
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("Software\\T", true));
  EXPECT_EQ(reg.LastError(), ERROR_CANTWRITE);
  EXPECT_FALSE(reg.WriteString("Name", "x"));  // on the root: still nowhere to write
  EXPECT_EQ(reg.LastError(), ERROR_CANTWRITE);
  EXPECT_FALSE(reg.ValueExists("Name"));
  EXPECT_FALSE(reg.KeyExists("Software\\T"));
  EXPECT_TRUE(damage_.empty());
}

}  // namespace
}  // namespace kestrom::registry
