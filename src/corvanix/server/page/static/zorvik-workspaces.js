// The Zorvik workspaces page: lists the user's workspaces through the
// server's API route, joins one or leaves it, and shows the API's failures.
// A plain script served as it is: no build step.
"use strict";

(function () {
  const root = document.getElementById("zorvik-workspaces");
  const apiUrl = root.dataset.apiUrl;
  // The server checks cookie-authenticated POSTs for this token, sent back in
  // the X-XSRFToken header; the page comes with it (and with its cookie).
  const xsrfToken = root.dataset.xsrfToken;
  const list = document.getElementById("workspaces");
  const joinedLine = document.getElementById("joined");
  const errorLine = document.getElementById("error");
  const leaveButton = document.getElementById("leave");
  const reloadButton = document.getElementById("reload");
  let busy = false;

  // Ids are JSON integers of any size. A JavaScript number keeps only those
  // up to 2**53 exactly, so an id is kept as the digits of the API's text,
  // which JSON.parse hands a reviver where the browser supports it. Without
  // that, only ids that a number holds exactly can be joined.
  const INTEGER = /^-?(?:0|[1-9][0-9]*)$/;
  const sourceText = (function () {
    const big = "12345678901234567890123";
    try {
      return JSON.parse(big, function (key, value, context) {
        return Boolean(context) && context.source === big;
      }) === true;
    } catch (e) {
      return false;
    }
  })();

  // digits: the id exactly as the API wrote it, or null with the reason why
  // the page cannot join that workspace.
  class Id {
    constructor(digits, reason) {
      this.digits = digits;
      this.reason = reason;
    }
  }

  function reviveId(key, value, context) {
    if (key !== "id" || typeof value !== "number") {
      return value;
    }
    const digits = sourceText ? context.source : (Number.isSafeInteger(value) ? String(value) : null);
    if (digits !== null && INTEGER.test(digits)) {
      return new Id(digits, null);
    }
    // Without the text, a number too large to be exact (or to be finite) may
    // still have been a whole one.
    if (!sourceText && (Number.isInteger(value) || !Number.isFinite(value))) {
      return new Id(null, "This browser cannot read its id exactly, so it cannot be joined here.");
    }
    return new Id(null, "Its id is not a whole number, so it cannot be joined here.");
  }

  class Failure extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;  // 0: no HTTP answer at all
    }
  }

  // body: the JSON text to send, written by the caller (ids go as digits).
  async function call(method, body) {
    const init = { method: method, credentials: "same-origin", headers: { Accept: "application/json" } };
    if (body !== undefined) {
      init.headers["Content-Type"] = "application/json";
      init.headers["X-XSRFToken"] = xsrfToken;
      init.body = body;
    }
    let response, text;
    try {
      response = await fetch(apiUrl, init);
      text = await response.text();
    } catch (e) {
      throw new Failure(0, "The notebook server did not answer.");
    }
    let data = null;
    try {
      data = JSON.parse(text, reviveId);
    } catch (e) {
      // Not JSON (a proxy's error page, say): the status alone tells.
    }
    if (!response.ok) {
      throw new Failure(response.status, describe(data) || response.statusText || "The request failed.");
    }
    return data;
  }

  // Our answers carry "error"; the server's own (a 400 for a bad body) "message".
  function describe(data) {
    for (const key of ["error", "message"]) {
      if (data && typeof data[key] === "string" && data[key]) {
        return data[key];
      }
    }
    return null;
  }

  function showError(failure) {
    errorLine.textContent = failure.status ? "Error " + failure.status + ": " + failure.message : failure.message;
    errorLine.hidden = false;
  }

  function clearError() {
    errorLine.textContent = "";
    errorLine.hidden = true;
  }

  // The joined line is a polite live region: written only when it changes,
  // so a reload does not announce it again.
  function announce(text) {
    if (joinedLine.textContent !== text) {
      joinedLine.textContent = text;
    }
  }

  // What the page knows of one listed workspace.
  function workspaceOf(item) {
    const id = item.id instanceof Id ? item.id : new Id(null, "It has no id, so it cannot be joined here.");
    const named = typeof item.name === "string" && item.name.trim() !== "";
    return {
      id: id,
      named: named,
      // How the page calls it: an unnamed one by its id, so that its button still says which.
      label: named ? item.name : "Unnamed workspace" + (id.digits !== null ? " (id " + id.digits + ")" : ""),
      current: item.current === true,
    };
  }

  // Names are the platform's text: set as text, never parsed as markup.
  function row(workspace) {
    const item = document.createElement("li");
    const label = document.createElement("div");
    label.className = "label";
    const name = document.createElement("span");
    name.className = workspace.named ? "name" : "name placeholder";
    name.textContent = workspace.label;
    label.append(name);
    if (workspace.id.reason) {
      const note = document.createElement("span");
      note.className = "note";
      note.textContent = workspace.id.reason;
      label.append(note);
    }
    item.append(label);
    if (workspace.current) {
      item.setAttribute("aria-current", "true");
      const mark = document.createElement("span");
      mark.className = "mark";
      mark.textContent = "joined";
      item.append(mark);
    }
    if (workspace.id.digits !== null) {
      const join = document.createElement("button");
      join.type = "button";
      join.className = "join";
      join.textContent = "Join";
      join.setAttribute("aria-label", "Join " + workspace.label);
      join.dataset.id = workspace.id.digits;
      join.addEventListener("click", function () {
        if (!isDisabled(join)) {
          change(workspace.id.digits);
        }
      });
      item.append(join);
    }
    return item;
  }

  function render(workspaces) {
    const items = workspaces.map(row);
    if (items.length === 0) {
      const empty = document.createElement("li");
      empty.className = "empty";
      empty.textContent = "No workspaces.";
      items.push(empty);
    }
    list.replaceChildren(...items);
    const joined = workspaces.find(function (workspace) { return workspace.current; });
    announce(joined ? "Joined: " + joined.label : "Not joined to any workspace.");
  }

  // Controls are marked unavailable rather than disabled: a disabled button
  // drops the keyboard focus, and a control that keeps it tells a screen
  // reader it is unavailable all the same.
  function setDisabled(button, disabled) {
    button.setAttribute("aria-disabled", disabled ? "true" : "false");
  }

  function isDisabled(button) {
    return button.getAttribute("aria-disabled") === "true";
  }

  function updateButtons() {
    setDisabled(reloadButton, busy);
    setDisabled(leaveButton, busy || list.querySelector("li[aria-current]") === null);
    for (const join of list.querySelectorAll("button.join")) {
      setDisabled(join, busy || join.parentElement.hasAttribute("aria-current"));
    }
  }

  function joinButton(digits) {
    for (const join of list.querySelectorAll("button.join")) {
      if (join.dataset.id === digits) {
        return join;
      }
    }
    return null;
  }

  // One request at a time; the buttons wait for it. refocus, if given, puts
  // the keyboard focus in place once the buttons are usable again.
  async function run(action, refocus) {
    if (busy) {
      return;
    }
    busy = true;
    root.setAttribute("aria-busy", "true");
    updateButtons();
    try {
      await action();
    } finally {
      busy = false;
      updateButtons();
      if (refocus) {
        refocus();
      }
      root.setAttribute("aria-busy", "false");
    }
  }

  async function listWorkspaces() {
    const items = await call("GET");
    if (!Array.isArray(items) || !items.every(function (item) { return item !== null && typeof item === "object"; })) {
      throw new Failure(0, "The server's answer is not a list of workspaces.");
    }
    render(items.map(workspaceOf));
  }

  function reload() {
    return run(async function () {
      if (!list.hasChildNodes()) {
        announce("Loading\u2026");
      }
      try {
        await listWorkspaces();
        clearError();
      } catch (failure) {
        if (!list.hasChildNodes()) {
          announce("");  // no longer loading: never listed
        }
        showError(failure);
      }
    });
  }

  // digits null leaves the joined workspace. Afterwards the keyboard focus
  // stays with the user's place: the joined row's button (or the list, where
  // that workspace is gone), after leaving a control that can be used.
  function change(digits) {
    // The joined workspace before the change: after leaving, its Join button takes the focus.
    const left = list.querySelector("li[aria-current] button.join");
    const leftId = left ? left.dataset.id : null;
    return run(async function () {
      let failed = false;
      try {
        await call("POST", '{"workspace_id": ' + (digits === null ? "null" : digits) + "}");
        clearError();
      } catch (failure) {
        showError(failure);
        failed = true;
      }
      // Listed again after a failure too: the platform may have changed
      // (a workspace deleted, a change that went through after a time-out).
      try {
        await listWorkspaces();
      } catch (failure) {
        if (!failed) {
          showError(failure);
        }
      }
    }, function () {
      if (digits !== null) {
        (joinButton(digits) || list).focus();
      } else if (isDisabled(leaveButton)) {
        const rejoin = leftId === null ? null : joinButton(leftId);
        (rejoin && !isDisabled(rejoin) ? rejoin : reloadButton).focus();
      }
    });
  }

  leaveButton.addEventListener("click", function () {
    if (!isDisabled(leaveButton)) {
      change(null);
    }
  });
  reloadButton.addEventListener("click", function () {
    if (!isDisabled(reloadButton)) {
      reload();
    }
  });
  document.getElementById("actions").hidden = false;

  // A token in the address has logged the browser in (the server set its
  // cookie): keep it out of the address bar and the history, as the server's
  // own pages do.
  const address = new URL(window.location.href);
  if (address.searchParams.has("token")) {
    address.searchParams.delete("token");
    window.history.replaceState(window.history.state, "", address.href);
  }

  reload();
})();
