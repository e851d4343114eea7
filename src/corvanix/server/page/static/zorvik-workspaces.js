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

  class Failure extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;  // 0: no HTTP answer at all
    }
  }

  async function call(method, body) {
    const init = { method: method, credentials: "same-origin", headers: { Accept: "application/json" } };
    if (body !== undefined) {
      init.headers["Content-Type"] = "application/json";
      init.headers["X-XSRFToken"] = xsrfToken;
      init.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(apiUrl, init);
    } catch (e) {
      throw new Failure(0, "The notebook server did not answer.");
    }
    let data = null;
    try {
      data = await response.json();
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

  // Names are the platform's text: set as text, never parsed as markup.
  function render(workspaces) {
    const items = workspaces.map(function (workspace) {
      const item = document.createElement("li");
      const name = document.createElement("span");
      name.className = "name";
      name.textContent = workspace.name;
      item.append(name);
      if (workspace.current) {
        item.setAttribute("aria-current", "true");
        const mark = document.createElement("span");
        mark.className = "mark";
        mark.textContent = "joined";
        item.append(mark);
      }
      const join = document.createElement("button");
      join.type = "button";
      join.className = "join";
      join.textContent = "Join";
      join.setAttribute("aria-label", "Join " + workspace.name);
      join.addEventListener("click", function () { change(workspace.id); });
      item.append(join);
      return item;
    });
    if (items.length === 0) {
      const empty = document.createElement("li");
      empty.className = "empty";
      empty.textContent = "No workspaces.";
      items.push(empty);
    }
    list.replaceChildren(...items);
    const joined = workspaces.find(function (workspace) { return workspace.current; });
    joinedLine.textContent = joined ? "Joined: " + joined.name : "Not joined to any workspace.";
  }

  function updateButtons() {
    reloadButton.disabled = busy;
    leaveButton.disabled = busy || list.querySelector("li[aria-current]") === null;
    for (const join of list.querySelectorAll("button.join")) {
      join.disabled = busy || join.parentElement.hasAttribute("aria-current");
    }
  }

  // One request at a time; the buttons wait for it.
  async function run(action) {
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
      root.setAttribute("aria-busy", "false");
      updateButtons();
    }
  }

  async function listWorkspaces() {
    const workspaces = await call("GET");
    if (!Array.isArray(workspaces)) {
      throw new Failure(0, "The server's answer is not a list of workspaces.");
    }
    render(workspaces);
  }

  function reload() {
    return run(async function () {
      try {
        await listWorkspaces();
        clearError();
      } catch (failure) {
        if (!list.hasChildNodes()) {
          joinedLine.textContent = "";  // no longer loading: never listed
        }
        showError(failure);
      }
    });
  }

  // workspace_id null leaves the joined workspace.
  function change(workspaceId) {
    return run(async function () {
      let failed = false;
      try {
        await call("POST", { workspace_id: workspaceId });
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
    });
  }

  leaveButton.addEventListener("click", function () { change(null); });
  reloadButton.addEventListener("click", reload);

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
