#include "tools/tvtuner/BoardFile.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "tools/tvtuner/UsageError.h"
#include "tools/tvtuner/Values.h"

namespace tvtuner {
namespace {

constexpr size_t EepromSize = 256;

class Reader {
public:
    Reader(std::string name, std::string directory) : name_(std::move(name)), directory_(std::move(directory)) {}

    void Load(const toml::table& root, BoardSetup& setup);

private:
    [[noreturn]] void Fail(const toml::node& node, const std::string& key, const std::string& problem) const
    {
        std::ostringstream message;
        message << name_ << ':' << node.source().begin.line << ": " << key << ": " << problem;
        throw UsageError(message.str());
    }

    static std::string Shown(const toml::node& node)
    {
        std::ostringstream text;
        if (node.is_string()) text << '"' << *node.value<std::string>() << '"';
        else if (node.is_table()) text << "a table";
        else if (node.is_array()) text << "an array";
        else node.visit([&text](const auto& value) {
            if constexpr (toml::is_value<decltype(value)>) text << value;
        });
        return text.str();
    }

    void OnlyKeys(const toml::table& table, const std::string& where, std::initializer_list<std::string_view> keys) const
    {
        for (const auto& [key, node] : table) {
            bool known = false;
            for (std::string_view allowed : keys) known = known || key.str() == allowed;
            if (!known) Fail(node, where + std::string(key.str()), "unknown key");
        }
    }

    const toml::table& Table(const toml::node& node, const std::string& key) const
    {
        if (!node.is_table()) Fail(node, key, "must be a table, not " + Shown(node));
        return *node.as_table();
    }

    bool Bool(const toml::node& node, const std::string& key) const
    {
        if (!node.is_boolean()) Fail(node, key, "must be true or false, not " + Shown(node));
        return *node.value<bool>();
    }

    // An integer, or a text that is one (0x, 0o and 0b prefixes allowed).
    uint32_t Unsigned(const toml::node& node, const std::string& key, uint64_t max = UINT32_MAX) const
    {
        std::optional<uint64_t> value;
        if (node.is_integer()) {
            int64_t number = *node.value<int64_t>();
            if (number >= 0) value = uint64_t(number);
        } else if (node.is_string()) {
            if (std::optional<uint32_t> parsed = ParseUnsigned(*node.value<std::string>())) value = *parsed;
        }
        if (!value || *value > max)
            Fail(node, key, "must be a whole number from 0 to " + std::to_string(max) + ", not " + Shown(node));
        return uint32_t(*value);
    }

    uint8_t Byte(const toml::node& node, const std::string& key) const { return uint8_t(Unsigned(node, key, 0xFF)); }

    // An I2C address in 8-bit form: the read bit clear.
    uint8_t Address(const toml::node& node, const std::string& key) const
    {
        uint8_t address = Byte(node, key);
        if (address & 1) Fail(node, key, "must be an 8-bit address with bit 0 clear, not " + Shown(node));
        return address;
    }

    uint32_t Frequency(const toml::node& node, const std::string& key) const
    {
        std::optional<uint32_t> hz;
        if (node.is_integer() && *node.value<int64_t>() > 0 && *node.value<int64_t>() <= int64_t(UINT32_MAX))
            hz = uint32_t(*node.value<int64_t>());
        if (node.is_string()) hz = ParseFrequency(*node.value<std::string>());
        if (!hz || *hz == 0) Fail(node, key, "must be a frequency in Hz or with kHz or MHz, not " + Shown(node));
        return *hz;
    }

    uint32_t Standard(const toml::node& node, const std::string& key) const
    {
        std::optional<uint32_t> standard;
        if (node.is_string()) standard = ParseStandard(*node.value<std::string>());
        if (node.is_integer() && *node.value<int64_t>() > 0 && *node.value<int64_t>() <= int64_t(UINT32_MAX))
            standard = ParseStandard(std::to_string(*node.value<int64_t>()));
        if (!standard) Fail(node, key, "must be one video standard such as \"PAL_B\" or 16, not " + Shown(node));
        return *standard;
    }

    uint32_t Model(const toml::node& node, const std::string& key) const
    {
        std::optional<uint32_t> model;
        if (node.is_string()) model = ParseModel(*node.value<std::string>());
        if (node.is_integer() && *node.value<int64_t>() >= 0 && *node.value<int64_t>() < 36)
            model = uint32_t(*node.value<int64_t>());
        if (!model) Fail(node, key, "must be a tuner model name or index 0 to 35, not " + Shown(node));
        return *model;
    }

    void Registry(const toml::table& table, BoardSetup& setup) const
    {
        for (const auto& [key, node] : table) {
            std::string name(key.str());
            if (node.is_string()) setup.SetRegistry(name, *node.value<std::string>());
            else if (node.is_integer()) setup.SetRegistry(name, std::to_string(*node.value<int64_t>()));
            else Fail(node, "registry." + name, "must be a text (or a number, stored as its text), not " + Shown(node));
        }
    }

    void Tuner(const toml::table& table, BoardSetup& setup) const
    {
        OnlyKeys(table, "tuner.", {"fitted", "model", "address", "status"});
        if (const toml::node* node = table.get("fitted")) setup.TunerFitted = Bool(*node, "tuner.fitted");
        if (const toml::node* node = table.get("model")) setup.TunerModel = Model(*node, "tuner.model");
        if (const toml::node* node = table.get("address")) setup.TunerAddress = Address(*node, "tuner.address");
        if (const toml::node* node = table.get("status")) setup.TunerStatus = Byte(*node, "tuner.status");
    }

    void Demodulator(const toml::table& table, BoardSetup& setup) const
    {
        OnlyKeys(table, "demodulator.", {"fitted", "status"});
        if (const toml::node* node = table.get("fitted")) setup.DemodulatorFitted = Bool(*node, "demodulator.fitted");
        if (const toml::node* node = table.get("status")) setup.DemodulatorStatus = Byte(*node, "demodulator.status");
    }

    void Eeprom(const toml::table& table, BoardSetup& setup) const
    {
        OnlyKeys(table, "eeprom.", {"address", "image", "bytes"});
        if (const toml::node* node = table.get("address")) setup.EepromAddress = Address(*node, "eeprom.address");
        if (const toml::node* node = table.get("image")) {
            if (!node->is_string()) Fail(*node, "eeprom.image", "must be a file name, not " + Shown(*node));
            std::filesystem::path path(*node->value<std::string>());
            if (path.is_relative()) path = std::filesystem::path(directory_) / path;
            std::ostringstream where;
            where << name_ << ':' << node->source().begin.line << ": eeprom.image";
            setup.EepromImage = ReadEepromImage(path.string(), where.str());
        }
        if (const toml::node* node = table.get("bytes")) {
            for (const auto& [key, value] : Table(*node, "eeprom.bytes")) {
                std::string name = "eeprom.bytes." + std::string(key.str());
                std::optional<uint32_t> offset = ParseUnsigned(key.str());
                if (!offset || *offset >= EepromSize) Fail(value, name, "the offset must be 0 to 0xFF");
                setup.EepromBytes[uint8_t(*offset)] = Byte(value, name);
            }
        }
    }

    StationSetup Station(const toml::table& table, const std::string& where) const
    {
        OnlyKeys(table, where + ".", {"frequency", "standard", "fm", "strength"});
        StationSetup station;
        const toml::node* frequency = table.get("frequency");
        if (frequency == nullptr) Fail(table, where, "needs a frequency");
        station.FrequencyHz = Frequency(*frequency, where + ".frequency");
        if (const toml::node* node = table.get("fm")) station.Fm = Bool(*node, where + ".fm");
        const toml::node* standard = table.get("standard");
        if (standard != nullptr && station.Fm) Fail(*standard, where + ".standard", "an FM station has no video standard");
        if (standard == nullptr && !station.Fm) Fail(table, where, "needs a video standard, or fm = true");
        if (standard != nullptr) station.Standard = Standard(*standard, where + ".standard");
        if (const toml::node* node = table.get("strength")) station.Strength = Unsigned(*node, where + ".strength", 100);
        return station;
    }

    void Stations(const toml::node& node, BoardSetup& setup) const
    {
        if (!node.is_array_of_tables()) Fail(node, "station", "must be written as [[station]] tables");
        std::vector<StationSetup> stations;
        size_t index = 0;
        for (const toml::node& entry : *node.as_array())
            stations.push_back(Station(*entry.as_table(), "station[" + std::to_string(++index) + "]"));
        setup.Stations = std::move(stations);
    }

    void Faults(const toml::table& table, BoardSetup& setup) const
    {
        OnlyKeys(table, "faults.",
                 {"no-interface", "refuse-opens", "fail-access-at-byte", "error-at-byte", "refuse-notifications",
                  "tuner-refuses-writes", "demodulator-refuses-writes", "eeprom-silent", "fail-allocation"});
        FaultSetup& faults = setup.Faults;
        auto count = [&](const char* key, std::optional<uint32_t>& field) {
            if (const toml::node* node = table.get(key)) field = Unsigned(*node, std::string("faults.") + key);
        };
        auto flag = [&](const char* key, bool& field) {
            if (const toml::node* node = table.get(key)) field = Bool(*node, std::string("faults.") + key);
        };
        flag("no-interface", faults.NoInterface);
        count("refuse-opens", faults.RefuseOpens);
        count("fail-access-at-byte", faults.FailAccessAtByte);
        count("error-at-byte", faults.ErrorAtByte);
        flag("refuse-notifications", faults.RefuseNotifications);
        count("tuner-refuses-writes", faults.TunerRefusesWrites);
        count("demodulator-refuses-writes", faults.DemodulatorRefusesWrites);
        flag("eeprom-silent", faults.EepromSilent);
        count("fail-allocation", faults.FailAllocation);
    }

    std::string name_;
    std::string directory_;
};

void Reader::Load(const toml::table& root, BoardSetup& setup)
{
    OnlyKeys(root, "", {"description", "registry", "tuner", "demodulator", "eeprom", "station", "faults"});
    if (const toml::node* node = root.get("description"); node != nullptr && !node->is_string())
        Fail(*node, "description", "must be a text, not " + Shown(*node));
    if (const toml::node* node = root.get("registry")) Registry(Table(*node, "registry"), setup);
    if (const toml::node* node = root.get("tuner")) Tuner(Table(*node, "tuner"), setup);
    if (const toml::node* node = root.get("demodulator")) Demodulator(Table(*node, "demodulator"), setup);
    if (const toml::node* node = root.get("eeprom")) Eeprom(Table(*node, "eeprom"), setup);
    if (const toml::node* node = root.get("station")) Stations(*node, setup);
    if (const toml::node* node = root.get("faults")) Faults(Table(*node, "faults"), setup);
    setup.Sources.push_back(name_);
}

}  // namespace

std::vector<uint8_t> ReadEepromImage(const std::string& path, const std::string& context)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError(context + ": cannot read the EEPROM image \"" + path + "\"");
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (image.size() > EepromSize) {
        throw UsageError(context + ": the EEPROM image \"" + path + "\" has " + std::to_string(image.size()) +
                         " bytes; the EEPROM holds " + std::to_string(EepromSize));
    }
    return image;
}

void LoadBoardText(std::string_view text, const std::string& name, const std::string& directory, BoardSetup& setup)
{
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& error) {
        std::ostringstream message;
        message << name << ':' << error.source().begin.line << ": " << error.description();
        throw UsageError(message.str());
    }
    Reader(name, directory).Load(root, setup);
}

void LoadBoardFile(const std::string& path, BoardSetup& setup)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError(path + ": cannot read the board file");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string directory = std::filesystem::path(path).parent_path().string();
    LoadBoardText(text, path, directory.empty() ? "." : directory, setup);
}

}  // namespace tvtuner
