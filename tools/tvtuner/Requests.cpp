#include "tools/tvtuner/Requests.h"

#include "platform/Kernel.h"
#include "sim/stream/Requests.h"
#include "tools/tvtuner/Values.h"

namespace tvtuner {

void Execute(Session& session, const Command& command)
{
    namespace rq = sim::requests;
    const std::string name = RequestName(command.Kind);
    const int line = command.Line;
    switch (command.Kind) {
    case Op::GetCaps: session.Send(rq::GetCaps(), name, Event::object(), line); break;
    case Op::GetModeCaps: session.Send(rq::GetModeCaps(command.Value), name, {{"mode", command.Value}}, line); break;
    case Op::GetMode: session.Send(rq::GetMode(), name, Event::object(), line); break;
    case Op::SetMode: session.Send(rq::SetMode(command.Value), name, {{"mode", command.Value}}, line); break;
    case Op::GetStandard: session.Send(rq::GetStandard(), name, Event::object(), line); break;
    case Op::SetStandard:
        session.Send(rq::SetStandard(command.Value), name, {{"standard", command.Value}}, line);
        break;
    case Op::GetFrequency: session.Send(rq::GetFrequency(), name, Event::object(), line); break;
    case Op::SetFrequency:
        session.Send(rq::SetFrequency(command.Value, command.Channel, command.Country), name,
                     {{"frequency", command.Value}, {"channel", command.Channel}, {"country", command.Country}}, line);
        break;
    case Op::GetInput: session.Send(rq::GetInput(), name, Event::object(), line); break;
    case Op::SetInput: session.Send(rq::SetInput(command.Value), name, {{"input", command.Value}}, line); break;
    case Op::GetStatus: session.Send(rq::GetStatus(), name, Event::object(), line); break;
    case Op::Power: {
        std::string state = "D" + std::to_string(command.Value - PowerDeviceD0);
        session.Send(rq::Power(DEVICE_POWER_STATE(command.Value)), name, {{"state", state}}, line);
        break;
    }
    case Op::Wait: session.Wait(command.Value, line); break;
    case Op::Stop: session.Stop(line); break;
    case Op::RawSrb:
        session.Send(rq::Raw(SRB_COMMAND(command.Value)), name, {{"command", command.Value}}, line);
        break;
    }
}

void ExecuteAll(Session& session, const std::vector<Command>& commands)
{
    for (const Command& command : commands) Execute(session, command);
}

}  // namespace tvtuner
