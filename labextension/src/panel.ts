// The left sidebar's "Zorvik workspaces" panel: the list with a Join button
// on each, the joined one marked, Leave and Reload, and the last failure.
import { Message } from '@lumino/messaging';
import { Widget } from '@lumino/widgets';

import { Workspace } from './api';
import { zorvikIcon } from './icon';
import { WorkspacesModel } from './model';

export const PANEL_ID = 'zorvik-workspaces-panel';

function button(text: string, className: string): HTMLButtonElement {
  const b = document.createElement('button');
  b.type = 'button';
  b.className = `jp-Button jp-mod-styled ${className}`;
  b.textContent = text;
  return b;
}

// Controls are marked unavailable rather than disabled: a disabled button
// drops the keyboard focus, and one that keeps it tells a screen reader it is
// unavailable all the same.
function setDisabled(b: HTMLButtonElement, disabled: boolean): void {
  b.setAttribute('aria-disabled', disabled ? 'true' : 'false');
}

function isDisabled(b: HTMLButtonElement): boolean {
  return b.getAttribute('aria-disabled') === 'true';
}

export class WorkspacesPanel extends Widget {
  constructor(private readonly model: WorkspacesModel) {
    super();
    this.id = PANEL_ID;
    this.addClass('jp-ZorvikPanel');
    this.title.icon = zorvikIcon;
    this.title.caption = 'Zorvik workspaces';
    const heading = document.createElement('h2');
    heading.className = 'jp-ZorvikPanel-heading';
    heading.textContent = 'Zorvik workspaces';
    heading.id = `${PANEL_ID}-heading`;
    this.node.setAttribute('role', 'region');
    this.node.setAttribute('aria-labelledby', heading.id);
    this.joinedLine.className = 'jp-ZorvikPanel-joined';
    this.joinedLine.setAttribute('role', 'status');
    this.errorLine.className = 'jp-ZorvikPanel-error';
    this.errorLine.setAttribute('role', 'alert');
    this.errorLine.hidden = true;
    this.list.className = 'jp-ZorvikPanel-list';
    this.list.setAttribute('aria-label', 'Zorvik workspaces');
    this.list.tabIndex = -1;
    const actions = document.createElement('div');
    actions.className = 'jp-ZorvikPanel-actions';
    actions.append(this.leaveButton, this.reloadButton);
    this.leaveButton.setAttribute('aria-label', 'Leave Zorvik workspace');
    this.reloadButton.setAttribute('aria-label', 'Reload Zorvik workspaces');
    this.leaveButton.addEventListener('click', () => {
      if (!isDisabled(this.leaveButton)) {
        void this.change(null);
      }
    });
    this.reloadButton.addEventListener('click', () => {
      if (!isDisabled(this.reloadButton)) {
        void this.model.reload();
      }
    });
    this.node.append(heading, this.joinedLine, this.errorLine, this.list, actions);
    model.changed.connect(this.render, this);
    this.render();
  }

  dispose(): void {
    this.model.changed.disconnect(this.render, this);
    super.dispose();
  }

  // Shown by a command, the status item or its tab: the keyboard goes with it.
  protected onActivateRequest(msg: Message): void {
    super.onActivateRequest(msg);
    if (this.isVisible && !this.node.contains(document.activeElement)) {
      this.focusList();
    }
  }

  /** The keyboard focus into the panel: the joined row's button, else the list. */
  focusList(): void {
    (this.list.querySelector<HTMLElement>('li[aria-current] button') ?? this.list).focus();
  }

  private render(): void {
    const model = this.model;
    this.node.setAttribute('aria-busy', model.busy ? 'true' : 'false');
    this.errorLine.textContent = model.error ?? '';
    this.errorLine.hidden = model.error === null;
    const workspaces = model.workspaces;
    if (workspaces !== null && workspaces !== this.shown) {
      this.shown = workspaces;
      const rows = workspaces.map(w => this.row(w));
      if (rows.length === 0) {
        const empty = document.createElement('li');
        empty.className = 'jp-ZorvikPanel-empty';
        empty.textContent = 'No Zorvik workspaces.';
        rows.push(empty);
      }
      // Keeps the focus where it was, on the same workspace's new button.
      const focused = this.list.contains(document.activeElement)
        ? (document.activeElement as HTMLElement).dataset.id
        : undefined;
      this.list.replaceChildren(...rows);
      if (focused !== undefined) {
        this.joinButton(focused)?.focus();
      }
    }
    const joined = model.joined;
    // A polite live region: written only when it changes, so that a refresh
    // does not announce it again.
    const text =
      workspaces === null
        ? model.error === null
          ? 'Loading\u2026'
          : ''
        : joined
          ? `Joined: ${joined.label}`
          : 'Not joined to any Zorvik workspace.';
    if (this.joinedLine.textContent !== text) {
      this.joinedLine.textContent = text;
    }
    setDisabled(this.reloadButton, model.busy);
    setDisabled(this.leaveButton, model.busy || joined === null);
    for (const join of this.list.querySelectorAll<HTMLButtonElement>('button')) {
      setDisabled(join, model.busy || join.closest('li')!.hasAttribute('aria-current'));
    }
  }

  // Names are the platform's text: set as text, never parsed as markup.
  private row(workspace: Workspace): HTMLLIElement {
    const item = document.createElement('li');
    item.className = 'jp-ZorvikPanel-item';
    const label = document.createElement('div');
    label.className = 'jp-ZorvikPanel-label';
    const name = document.createElement('span');
    name.className = workspace.named ? 'jp-ZorvikPanel-name' : 'jp-ZorvikPanel-name jp-mod-placeholder';
    name.textContent = workspace.label;
    label.append(name);
    if (workspace.id.reason) {
      const note = document.createElement('span');
      note.className = 'jp-ZorvikPanel-note';
      note.textContent = workspace.id.reason;
      label.append(note);
    }
    item.append(label);
    if (workspace.current) {
      item.setAttribute('aria-current', 'true');
      const mark = document.createElement('span');
      mark.className = 'jp-ZorvikPanel-mark';
      mark.textContent = 'joined';
      item.append(mark);
    }
    const digits = workspace.id.digits;
    if (digits !== null) {
      const join = button('Join', 'jp-mod-accept jp-ZorvikPanel-join');
      join.setAttribute('aria-label', `Join ${workspace.label}`);
      join.dataset.id = digits;
      join.addEventListener('click', () => {
        if (!isDisabled(join)) {
          void this.change(digits);
        }
      });
      item.append(join);
    }
    return item;
  }

  private joinButton(digits: string): HTMLButtonElement | null {
    for (const join of this.list.querySelectorAll<HTMLButtonElement>('button')) {
      if (join.dataset.id === digits) {
        return join;
      }
    }
    return null;
  }

  // Afterwards the focus stays with the user's place: the joined row's
  // button (or the list, where that workspace is gone); after leaving, the
  // Join button of the one just left, else Reload.
  private async change(digits: string | null): Promise<void> {
    const left = this.list.querySelector<HTMLButtonElement>('li[aria-current] button');
    const leftId = left?.dataset.id ?? null;
    await this.model.join(digits);
    if (digits !== null) {
      (this.joinButton(digits) ?? this.list).focus();
    } else {
      const rejoin = leftId === null ? null : this.joinButton(leftId);
      (rejoin && !isDisabled(rejoin) ? rejoin : this.reloadButton).focus();
    }
  }

  private shown: readonly Workspace[] | null = null;
  private readonly joinedLine = document.createElement('p');
  private readonly errorLine = document.createElement('p');
  private readonly list = document.createElement('ul');
  private readonly leaveButton = button('Leave', 'jp-mod-warn jp-ZorvikPanel-leave');
  private readonly reloadButton = button('Reload', 'jp-ZorvikPanel-reload');
}
