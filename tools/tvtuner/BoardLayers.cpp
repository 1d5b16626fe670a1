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

void Apply(const BoardLayer& layer, BoardSetup& setup)
{
    switch (layer.Kind) {
    case BoardOption::File: LoadBoardFile(layer.Value, setup); break;
    case BoardOption::Model: {
        uint32_t model = ParseModel(layer.Value).value_or(0);
        setup.SetRegistry("TunerType", ModelName(model));
        setup.TunerModel = model;
        break;
    }
    case BoardOption::Address:
        setup.SetRegistry("Address", layer.Value);
        setup.TunerAddress = uint8_t(Number(layer));
        break;
    case BoardOption::InterCarrierMode: setup.SetRegistry("InterCarrierMode", layer.Value); break;
    case BoardOption::DefaultStandard: {
        std::optional<uint32_t> standard = ParseUnsigned(layer.Value);
        if (!standard) standard = ParseStandard(layer.Value);
        setup.SetRegistry("DefaultStandard", std::to_string(standard.value_or(0)));
        break;
    }
    case BoardOption::EepromAddress:
        setup.SetRegistry("EEPROMAddr", layer.Value);
        setup.EepromAddress = uint8_t(Number(layer));
        break;
    case BoardOption::EepromImage:
        setup.EepromImage = ReadEepromImage(layer.Value, layer.Option);
        // An image alone is meant to be read: tell the driver where.
        if (!setup.RegistryValue("EEPROMAddr")) setup.SetRegistry("EEPROMAddr", Hex(EepromAddressOf(setup).value_or(0xA0)));
        break;
    case BoardOption::Registry: {
        size_t equals = layer.Value.find('=');
        std::string name = layer.Value.substr(0, equals);
        std::string value = layer.Value.substr(equals + 1);
        if (value.empty()) setup.RemoveRegistry(name);
        else setup.SetRegistry(name, value);
        break;
    }
    case BoardOption::TunerStatus: setup.TunerStatus = uint8_t(Number(layer)); break;
    case BoardOption::DemodulatorStatus: setup.DemodulatorStatus = uint8_t(Number(layer)); break;
    }
}

}  // namespace

BoardSetup BuildBoard(const std::vector<BoardLayer>& layers)
{
    BoardSetup setup;
    bool files = std::any_of(layers.begin(), layers.end(), [](const BoardLayer& l) { return l.Kind == BoardOption::File; });
    if (!files) LoadBoardText(DefaultBoardText(), "built-in board", ".", setup);
    for (const BoardLayer& layer : layers) Apply(layer, setup);
    return setup;
}

}  // namespace tvtuner
