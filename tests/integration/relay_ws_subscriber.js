// A subscriber on the `ws` library, as browsers' and phones' WebSocket stacks behave: it asks
// for permessage-deflate when told to, waits for one snapshot and prints what the wire carried.
const WebSocket = require('ws');

const [url, token, mode] = process.argv.slice(2);
const socket = new WebSocket(url, { perMessageDeflate: mode === 'deflate' });
const timer = setTimeout(() => { console.log(JSON.stringify({ error: 'no snapshot' })); process.exit(2); }, 30000);
socket.on('open', () => socket.send(JSON.stringify({ type: 'authenticate', role: 'subscriber', token })));
socket.on('message', (data) => {
    const message = JSON.parse(data);
    if (message.type !== 'snapshot')
        return;
    console.log(JSON.stringify({
        extensions: socket.extensions,
        messageBytes: data.length,
        wireBytes: socket._socket.bytesRead,
        sequence: message.snapshot.sequence,
    }));
    clearTimeout(timer);
    socket.close();
});
socket.on('error', (error) => { console.log(JSON.stringify({ error: String(error) })); process.exit(1); });
