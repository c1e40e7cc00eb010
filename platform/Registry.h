// The settings store: registry-style keys holding DWORD, string and binary values in a text file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

/// The key the program keeps its settings under.
inline constexpr std::u16string_view KelpRegistryKey = u"Software\\Ulmero\\Kelp";

enum class RegType : uint8_t { String = 1, Binary = 3, Dword = 4 };

/// Keys and value names compare without regard to case, as the handheld's registry did.
/// A store with a file path writes the whole file after every change, so nothing is lost
/// when the program ends abruptly; a store without one lives in memory only.
class Registry {
 public:
  Registry() = default;
  explicit Registry(std::string filePath) : m_path(std::move(filePath)) {}

  const std::string& path() const { return m_path; }
  /// Reads the file; a missing file is an empty store. Unreadable lines are skipped.
  bool load();
  /// Writes the file through a temporary and a rename; failure reports error 14.
  bool save() const;

  bool hasKey(std::u16string_view key) const;
  void createKey(std::u16string_view key);
  bool deleteKey(std::u16string_view key);

  bool readDword(std::u16string_view key, std::u16string_view name, uint32_t& value) const;
  bool readString(std::u16string_view key, std::u16string_view name, std::u16string& value) const;
  bool readBinary(std::u16string_view key, std::u16string_view name, std::vector<uint8_t>& value) const;

  /// Each write creates the key when absent; false when the file could not be written.
  bool writeDword(std::u16string_view key, std::u16string_view name, uint32_t value);
  bool writeString(std::u16string_view key, std::u16string_view name, std::u16string_view value);
  bool writeBinary(std::u16string_view key, std::u16string_view name, const std::vector<uint8_t>& value);
  bool deleteValue(std::u16string_view key, std::u16string_view name);

  /// The names of a key's values in the order they were first written.
  std::vector<std::u16string> valueNames(std::u16string_view key) const;

 private:
  struct Value {
    std::u16string name;
    RegType type = RegType::Dword;
    uint32_t dword = 0;
    std::u16string text;
    std::vector<uint8_t> bytes;
  };
  struct Key {
    std::u16string name;
    std::vector<Value> values;
  };

  const Value* findValue(std::u16string_view key, std::u16string_view name) const;
  Value& valueForWrite(std::u16string_view key, std::u16string_view name);
  bool commit() const { return m_path.empty() || save(); }

  std::string m_path;
  std::vector<Key> m_keys;
};

/// This user's settings, loaded on first use from settingsFolder() + "/registry".
Registry& settingsRegistry();

}  // namespace kelp
