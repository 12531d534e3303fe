// Quillon Vesper mail visits: tells the native host "qvmailhost" which message each tab
// displays and when a tab closes. The host turns these into visits for the activity tracer.
"use strict";

const HOST = "qvmailhost";
let port = null;

function connect() {
  port = browser.runtime.connectNative(HOST);
  port.onDisconnect.addListener((p) => {
    if (p.error) console.warn("Quillon Vesper: host disconnected:", p.error.message);
    port = null;
  });
  port.onMessage.addListener((reply) => {
    if (reply && reply.ok === false) console.warn("Quillon Vesper:", reply.error);
  });
  port.postMessage({ type: "hello" });
}

function send(message) {
  if (port === null) connect();
  try {
    port.postMessage(message);
  } catch (e) {
    // The host went away; the next message starts it again.
    port = null;
  }
}

function displayed(tab, message) {
  if (!tab || !message || !message.folder || !message.headerMessageId) return;
  send({
    type: "displayed",
    tab: tab.id,
    messageId: message.headerMessageId,
    folder: message.folder.path,
    account: message.folder.accountId,
  });
}

browser.messageDisplay.onMessageDisplayed.addListener(displayed);

// Coming back to a tab that shows a message is reading it again.
browser.tabs.onActivated.addListener(async ({ tabId }) => {
  try {
    const message = await browser.messageDisplay.getDisplayedMessage(tabId);
    if (message) displayed({ id: tabId }, message);
  } catch (e) {
    // Not a tab that displays messages.
  }
});

browser.tabs.onRemoved.addListener((tabId) => send({ type: "closed", tab: tabId }));
