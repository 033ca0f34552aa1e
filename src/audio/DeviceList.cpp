#include "audio/DeviceList.h"

std::optional<size_t> ChooseEndpoint(const std::vector<AudioDeviceInfo>& endpoints, int32_t position,
                                     const std::string& endpointId, const std::string& defaultId)
{
    auto find = [&endpoints](const std::string& id) -> std::optional<size_t> {
        if (id.empty())
            return std::nullopt;
        for (size_t i = 0; i < endpoints.size(); ++i) {
            if (endpoints[i].id == id)
                return i;
        }
        return std::nullopt;
    };
    if (const std::optional<size_t> byId = find(endpointId))
        return byId;
    if (position >= 0) {
        if (static_cast<size_t>(position) < endpoints.size())
            return static_cast<size_t>(position);
        return std::nullopt;
    }
    return find(defaultId);
}
