// The status bar's "Zorvik: <name>" item; clicking it (or Enter or Space on
// it) opens the panel.
import { Widget } from '@lumino/widgets';

import { WorkspacesModel } from './model';

export function statusText(model: WorkspacesModel): string {
  if (model.workspaces === null) {
    return model.error === null ? 'Zorvik: \u2026' : 'Zorvik: unavailable';
  }
  return `Zorvik: ${model.joined?.label ?? 'none joined'}`;
}

export class WorkspaceStatus extends Widget {
  constructor(
    private readonly model: WorkspacesModel,
    private readonly open: () => void
  ) {
    super();
    this.addClass('jp-ZorvikStatus');
    this.node.setAttribute('role', 'button');
    this.node.tabIndex = 0;
    this.node.addEventListener('click', () => this.open());
    this.node.addEventListener('keydown', event => {
      if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        this.open();
      }
    });
    model.changed.connect(this.render, this);
    this.render();
  }

  dispose(): void {
    this.model.changed.disconnect(this.render, this);
    super.dispose();
  }

  private render(): void {
    const text = statusText(this.model);
    if (this.node.textContent !== text) {
      this.node.textContent = text;
    }
    const label = `${text}. Opens the Zorvik workspaces panel.`;
    this.node.setAttribute('aria-label', label);
    this.node.title = this.model.error ?? 'Open the Zorvik workspaces panel';
  }
}
