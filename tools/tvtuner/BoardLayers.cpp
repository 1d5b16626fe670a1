#include "tools/tvtuner/BoardLayers.h"

#include <algorithm>

#include "tools/tvtuner/BoardBuilder.h"
#include "tools/tvtuner/BoardFile.h"
#include "tools/tvtuner/DefaultBoard.h"
#include "tools/tvtuner/UsageError.h"
#include "tools/tvtuner/Values.h"

namespace tvtuner {
namespace {

uint32_t Number(const BoardLayer& layer)
{
    std::optional<uint32_t> value = ParseUnsigned(layer.Value);
    if (!value) throw UsageError(layer.Option + ": \"" + layer.Value + "\" is not a number");
    return *value;
}

void Apply(const BoardLayer& layer, BoardSpec& spec)
{
    switch (layer.Kind) {
    case BoardOption::File: LoadBoardFile(layer.Value, spec); break;
    case BoardOption::Model: {
        uint32_t model = ParseModel(layer.Value).value_or(0);
        spec.SetRegistry("TunerType", ModelName(model));
        spec.TunerModel = model;
        break;
    }
    case BoardOption::Address:
        spec.SetRegistry("Address", layer.Value);
        spec.TunerAddress = uint8_t(Number(layer));
        break;
    case BoardOption::InterCarrierMode: spec.SetRegistry("InterCarrierMode", layer.Value); break;
    case BoardOption::DefaultStandard: {
        std::optional<uint32_t> standard = ParseUnsigned(layer.Value);
        if (!standard) standard = ParseStandard(layer.Value);
        spec.SetRegistry("DefaultStandard", std::to_string(standard.value_or(0)));
        break;
    }
    case BoardOption::EepromAddress:
        spec.SetRegistry("EEPROMAddr", layer.Value);
        spec.EepromAddress = uint8_t(Number(layer));
        break;
    case BoardOption::EepromImage:
        spec.EepromImage = ReadEepromImage(layer.Value, layer.Option);
        // An image alone is meant to be read: tell the driver where.
        if (!spec.RegistryValue("EEPROMAddr")) spec.SetRegistry("EEPROMAddr", Hex(EepromAddressOf(spec).value_or(0xA0)));
        break;
    case BoardOption::Registry: {
        size_t equals = layer.Value.find('=');
        std::string name = layer.Value.substr(0, equals);
        std::string value = layer.Value.substr(equals + 1);
        if (value.empty()) spec.RemoveRegistry(name);
        else spec.SetRegistry(name, value);
        break;
    }
    case BoardOption::TunerStatus: spec.TunerStatus = uint8_t(Number(layer)); break;
    case BoardOption::DemodulatorStatus: spec.DemodulatorStatus = uint8_t(Number(layer)); break;
    }
}

}  // namespace

BoardSpec BuildBoard(const std::vector<BoardLayer>& layers)
{
    BoardSpec spec;
    bool files = std::any_of(layers.begin(), layers.end(), [](const BoardLayer& l) { return l.Kind == BoardOption::File; });
    if (!files) LoadBoardText(DefaultBoardText(), "built-in board", ".", spec);
    for (const BoardLayer& layer : layers) Apply(layer, spec);
    return spec;
}

}  // namespace tvtuner
