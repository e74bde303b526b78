#pragma once

#include <cstddef>
#include <string>

namespace qs {

// A typed line as the "sendmessage" request that carries it whole to a user, or why
// it cannot go.
struct message_request {
    std::string command; // the request; empty when refused
    std::string refusal; // one line for the user: what is wrong, and that nothing was sent
};

// The request for text to user, at most longest bytes long. Refused: an empty text, a
// '|' (the server refuses it), text the server's parser would not give back as typed,
// and a request over longest.
message_request make_message_request(const std::string& user, const std::string& text, std::size_t longest);

} // namespace qs
