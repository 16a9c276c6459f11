// A JSON-RPC client over the server's WebSocket: one connection is one
// client, requests are answered in the order sent.
"use strict";

class RpcClient {
  constructor(url) {
    this.url = url;
    this.nextId = 1;
    this.pending = new Map();
  }

  open() {
    return new Promise((resolve, reject) => {
      this.ws = new WebSocket(this.url);
      this.ws.onopen = () => resolve();
      this.ws.onerror = () => reject(new Error("无法连接服务器"));
      this.ws.onmessage = (ev) => this.onAnswer(JSON.parse(ev.data));
      this.ws.onclose = () => {
        for (const p of this.pending.values()) p.reject(new Error("连接已断开"));
        this.pending.clear();
        if (this.onclose) this.onclose();
      };
    });
  }

  onAnswer(a) {
    const p = this.pending.get(a.id);
    if (!p) return;
    this.pending.delete(a.id);
    if (a.error) {
      const e = new Error(a.error.message);
      e.code = a.error.code;
      e.data = a.error.data;
      p.reject(e);
    } else {
      p.resolve(a.result);
    }
  }

  // The result of method, or a rejection with the server's error text.
  call(method, params = {}) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.ws.send(JSON.stringify({ jsonrpc: "2.0", id, method, params }));
    });
  }

  close() { if (this.ws) this.ws.close(); }
}
