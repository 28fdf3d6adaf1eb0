#pragma once

#include <stdexcept>

namespace orvane {

// A credential store that refused to keep something; `what()` is the text the pairing page
// shows, saying what the store answered.
class CredentialStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace orvane
