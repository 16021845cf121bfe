#pragma once
// CQArrayClient::ReadReply, the reply check every array command shares (its
// contract is in CQArrayClient.h). Included by the files of the array
// operations only.
#include <exception>
#include <new>
#include <string>

#include "json/JsonNode.h"
#include "provider/array/CQArrayClient.h"

template <class Read, class OnUnreadable>
marl::array::CQArrayClient::ReplyReading marl::array::CQArrayClient::ReadReply(
    const char* function, const char* command, const std::string& reply, Read&& read,
    OnUnreadable&& onUnreadable) {
    try {
        marl::json::JsonNode data;
        if (ReplyFailed(reply, data)) {
            LogRefusedReply(function, command);
            return ReplyReading::kRefused;
        }
        read(data);
        return ReplyReading::kAccepted;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        onUnreadable(e);
        return ReplyReading::kUnreadable;
    }
}
